// The console window offscreen: its layout in twips, pickers, marquee, buttons and error path.

#include "console/qt/window.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QFontInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <string>
#include <vector>

#include "pipeline/edition.h"
#include "pipeline/failure.h"
#include "pipeline/platform.h"
#include "pipeline/report.h"
#include "tests/test_folder.h"
#include "tests/window_scenarios.h"

namespace ravel {
namespace {

// Plays the operator at the modal dialogs: picks `choice` in the file-open dialog (cancels it
// when empty) and notes every message box before pressing its OK button.
struct Operator {
  struct Box {
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
    QString title, text;
  };

  explicit Operator(const QString& choice = {}) {
    poll.callOnTimeout([this, choice] {
      QWidget* modal = QApplication::activeModalWidget();
      if (auto* files = qobject_cast<QFileDialog*>(modal)) {
        // Types the path into the file name box, which works whether or not that box has the
        // focus yet. QFileDialog hides accept(); reached through QDialog it checks the file.
        files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(choice);
        choice.isEmpty() ? files->reject() : static_cast<QDialog*>(files)->accept();
      } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        boxes.push_back({box->icon(), box->standardButtons(), box->windowTitle(), box->text()});
        box->button(QMessageBox::Ok)->click();
      }
    });
    poll.start(10);
  }

  std::vector<Box> boxes;
  QTimer poll;
};

class window_test : public ::testing::Test {
 protected:
  testing::TestFolder folder;
  testing::TestFolder store;
  ConsoleWindow window{folder.path(), store.path()};
};

// What a control shows: a label's or button's caption, a text box's content.
QString caption(const QWidget* control) {
  if (auto* label = qobject_cast<const QLabel*>(control)) return label->text();
  if (auto* button = qobject_cast<const QAbstractButton*>(control)) return button->text();
  if (auto* text = qobject_cast<const QLineEdit*>(control)) return text->text();
  return {};
}

TEST_F(window_test, controls_stand_at_their_designed_places_with_their_captions) {
  const TwipsRect client = window.twips_geometry(window);
  EXPECT_EQ(client.width, 8835);
  EXPECT_EQ(client.height, 7635);
  const struct {
    QWidget* control;
    TwipsRect rect;
    const char* caption;  // nullptr: ours to choose
  } designed[] = {
      {&window.Label1, {600, 360, 1155, 195}, "Start Date & Time"},
      {&window.Label2, {4800, 360, 1110, 195}, "End Date & Time"},
      {&window.dp1, {600, 600, 1815, 375}, ""},
      {&window.tp1, {2400, 600, 1815, 375}, ""},
      {&window.dp2, {4800, 600, 1815, 375}, ""},
      {&window.tp2, {6600, 600, 1815, 375}, ""},
      {&window.Command4, {5520, 4440, 1695, 735}, "HTML Report"},
      {&window.Command1, {1200, 6360, 1695, 735}, "Process"},
      {&window.Command2, {5040, 6360, 1575, 615}, "Update Database"},
      {&window.Command3, {9480, 5280, 1335, 615}, "Command3"},
      {&window.Text1, {8760, 720, 1455, 375}, ""},
      {&window.Text2, {8760, 1800, 1455, 375}, ""},
      {&window.Label3, {0, 7320, 10935, 375}, ""},
      {&window.Label4, {0, 7320, 3915, 285}, nullptr},
  };
  for (const auto& row : designed) {
    TwipsRect rect = window.twips_geometry(*row.control);
    // The caption labels are sized to their text: never narrower than designed, never cut.
    if (row.control == &window.Label1 || row.control == &window.Label2) {
      EXPECT_GE(row.control->width(), row.control->sizeHint().width()) << row.caption;
      EXPECT_GE(rect.width, row.rect.width) << row.caption;
      rect.width = row.rect.width;
    }
    EXPECT_EQ(rect, row.rect) << row.control->metaObject()->className() << " " << row.caption;
    if (row.caption) {
      EXPECT_EQ(caption(row.control).toStdString(), row.caption);
    }
  }
  EXPECT_TRUE(window.Label4.text().startsWith("Ravelbook"));
  EXPECT_EQ(window.windowTitle().toStdString(), "Ravelbook " RAVEL_VERSION);
  // The credit is drawn over the strip in its own font, and its text fits the label.
  EXPECT_EQ(window.childAt(window.Label4.geometry().center()), &window.Label4);
  EXPECT_TRUE(QFontInfo(window.Label4.font()).bold());
  EXPECT_EQ(QFontInfo(window.Label4.font()).pointSize(), 12);
  EXPECT_LE(window.Label4.sizeHint().width(), window.Label4.width());
  EXPECT_DOUBLE_EQ(window.tp2.font().pointSizeF(), 8.25);
}

TEST_F(window_test, tab_moves_focus_in_the_designed_order) {
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  const QWidget* order[] = {&window.Command1, &window.Text1,    &window.Text2,   &window.Command2,
                            &window.dp1,      &window.tp1,      &window.dp2,     &window.tp2,
                            &window.Command3, &window.Command4, &window.Command1};
  for (const QWidget* expected : order) {
    EXPECT_EQ(QApplication::focusWidget(), expected) << expected->metaObject()->className();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
}

TEST_F(window_test, pickers_start_on_1_february_2011_and_time_pickers_edit_the_time) {
  EXPECT_EQ(window.tp1.text().toStdString(), "2011-02-01");
  window.set_up_time_pickers();
  const QtPicker* pickers[] = {&window.dp1, &window.tp1, &window.dp2, &window.tp2};
  const char* shown[] = {"2011-02-01", "00:00:00", "2011-02-01", "00:00:00"};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(pickers[i]->text().toStdString(), shown[i]);

  // Typed digits fill hours, minutes and seconds; the picker's date stays as it was.
  window.tp1.setSelectedSection(QDateTimeEdit::HourSection);
  QTest::keyClicks(&window.tp1, "134510");
  const LocalDateTime typed = window.tp1.Value();
  EXPECT_EQ(window.tp1.text().toStdString(), "13:45:10");
  EXPECT_EQ(typed.second_of_day, 13 * 3600 + 45 * 60 + 10);
  EXPECT_EQ(typed.date.year * 10000 + typed.date.month * 100 + typed.date.day, 20110201);

  window.dp2.set_Value({{1601, 1, 1}, 0});  // The first day a picker holds.
  EXPECT_EQ(window.dp2.Value().date.year, 1601);
  EXPECT_THROW(window.dp1.set_Format(2), Failure);
}

TEST_F(window_test, timer_ticks_move_the_credit_and_wrap_it_at_the_outer_width) {
  EXPECT_EQ(window.Timer1.interval(), 70);
  window.Timer1.stop();
  window.Timer1_Timer();
  EXPECT_EQ(window.credit_left(), -100);
  EXPECT_EQ(window.Label4.x(), -7);

  window.move_credit(-3914);  // Right edge 1.
  window.Timer1_Timer();
  EXPECT_EQ(window.credit_left(), -4014);
  window.Timer1_Timer();
  EXPECT_EQ(window.credit_left(), window.outer_width());
  EXPECT_EQ(window.twips_geometry(window.Label4).left, window.outer_width());
  EXPECT_EQ(window.twips_geometry(window.Label4).top, 7320);

  // Running, the timer moves the credit by itself.
  window.move_credit(0);
  window.Timer1.start();
  EXPECT_TRUE(QTest::qWaitFor([&] { return window.credit_left() <= -200; }, 5000));
}

TEST_F(window_test, process_button_writes_the_job_table_and_the_report_of_the_picked_window) {
  testing::write_process_inputs(folder);
  window.set_up_time_pickers();
  window.tp1.setTime(QTime(13, 45, 10));
  window.tp2.setTime(QTime(13, 50, 0));
  QTest::mouseClick(&window.Command1, Qt::LeftButton);

  EXPECT_EQ(folder.read("out1.txt"), testing::process_table());
  EXPECT_NE(folder.read(report_file_name(local_today())).find(testing::process_report_window),
            std::string::npos);
}

TEST_F(window_test, update_button_merges_the_file_picked_in_the_dialog) {
  for (const testing::UpdateCase& c : testing::update_cases()) {
    store.write("bpdbjobs.txt", testing::stored_listing);
    folder.write("update.txt", c.update ? c.update : "");
    Operator person(c.update ? QString::fromStdString((folder / "update.txt").string()) : "");
    QTest::mouseClick(&window.Command2, Qt::LeftButton);

    EXPECT_EQ(store.read("bpdbjobs.txt"), c.stored_after) << c.message;
    ASSERT_EQ(person.boxes.size(), c.message ? 1u : 0u);
    if (!c.message) continue;
    EXPECT_EQ(person.boxes[0].text.toStdString(), c.message);
    EXPECT_EQ(person.boxes[0].icon, QMessageBox::NoIcon);
    EXPECT_EQ(person.boxes[0].buttons, QMessageBox::Ok);
    EXPECT_EQ(person.boxes[0].title, window.windowTitle());
  }
}

TEST_F(window_test, a_failing_handler_reports_the_error_and_ends_the_program) {
  Operator person;
  QTimer give_up;  // Ends a hung event loop with a status the error path does not use.
  give_up.callOnTimeout([] { QCoreApplication::exit(99); });
  give_up.start(10000);
  window.show();
  ::testing::internal::CaptureStderr();
  QTimer::singleShot(0, &window.Command4, &QPushButton::click);  // No job table in the folder.
  const int status = QApplication::exec();
  const std::string line = ::testing::internal::GetCapturedStderr();

  EXPECT_NE(status, 99);
  EXPECT_EQ(line.rfind("ravelbook: error 53: File not found", 0), 0u) << line;
  ASSERT_EQ(person.boxes.size(), 1u);
  EXPECT_TRUE(person.boxes[0].text.startsWith("error 53: File not found"));
  EXPECT_EQ(person.boxes[0].buttons, QMessageBox::Ok);
  EXPECT_EQ(person.boxes[0].title, window.windowTitle());
  EXPECT_TRUE(window.failed());
  EXPECT_FALSE(window.isVisible());
  EXPECT_FALSE(window.Timer1.isActive());
  QTest::mouseClick(&window.Command4, Qt::LeftButton);  // The program is ending: nothing runs.
  EXPECT_EQ(person.boxes.size(), 1u);
}

TEST_F(window_test, screenshot_shows_the_window_with_its_navy_strip) {
  window.set_up_time_pickers();
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  window.Timer1.stop();
  const QImage image = window.grab().toImage();
  EXPECT_TRUE(image.save(RAVEL_BUILD_FOLDER "/ravelbook-window.png"));
  // Right of the credit, the strip shows its own colour.
  EXPECT_EQ(image.pixelColor(image.width() - 10, image.height() - 5), QColor(0, 0, 128));
}

}  // namespace
}  // namespace ravel

// The widgets need an application object; unless told otherwise, it runs offscreen.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
