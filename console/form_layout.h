#pragma once
// Form1 as designed, for every window that shows it: each control's place in twips, caption and
// turn in the Tab order, the faces and colours, and the credit marquee's rule. The Qt window and
// the Win32 window both read it, so the two cannot drift apart.

#include <cstdint>
#include <string_view>

namespace ravel {

// A place and size in twips (1/1440 inch), the unit the form is designed in.
struct TwipsRect {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  friend bool operator==(const TwipsRect&, const TwipsRect&) = default;
};

// One control as designed: where it stands, what it shows, and when Tab reaches it.
struct ControlDesign {
  TwipsRect rect;
  std::string_view caption;
  // The control's TabIndex; -1 for a label, which Tab never reaches.
  int tab_index = -1;
};

struct FontDesign {
  std::string_view face;
  double points = 0.0;
  bool bold = false;
};

struct Colour {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
};

struct Form1Layout {
  // The client area; the window's frame comes on top.
  std::int32_t client_width = 0;
  std::int32_t client_height = 0;
  // The controls in the order they are created: later ones are drawn over earlier ones.
  ControlDesign Label1, Label2, dp1, tp1, dp2, tp2, Command4, Command1, Command2, Command3, Text1,
      Text2, Label3, Label4;
  // The form's classic face, or the nearest one installed: the window's and the pickers'.
  FontDesign classic_font;
  // The credit (Label4) in its colour on the navy strip (Label3).
  FontDesign credit_font;
  Colour credit_colour;
  Colour strip_colour;
  int Timer1_interval_ms = 0;
};

inline constexpr Form1Layout form1_layout{
    .client_width = 8835,
    .client_height = 7635,
    .Label1 = {{600, 360, 1155, 195}, "Start Date & Time"},
    .Label2 = {{4800, 360, 1110, 195}, "End Date & Time"},
    .dp1 = {{600, 600, 1815, 375}, "", 4},
    .tp1 = {{2400, 600, 1815, 375}, "", 5},
    .dp2 = {{4800, 600, 1815, 375}, "", 6},
    .tp2 = {{6600, 600, 1815, 375}, "", 7},
    .Command4 = {{5520, 4440, 1695, 735}, "HTML Report", 9},
    .Command1 = {{1200, 6360, 1695, 735}, "Process", 0},
    .Command2 = {{5040, 6360, 1575, 615}, "Update Database", 3},
    // Command3 and the text boxes lie (partly) beyond the right edge, where the form has them.
    .Command3 = {{9480, 5280, 1335, 615}, "Command3", 8},
    .Text1 = {{8760, 720, 1455, 375}, "", 1},
    .Text2 = {{8760, 1800, 1455, 375}, "", 2},
    .Label3 = {{0, 7320, 10935, 375}, ""},
    .Label4 = {{0, 7320, 3915, 285}, "Ravelbook report console"},
    .classic_font = {"MS Sans Serif", 8.25, false},
    .credit_font = {"Times New Roman", 12.0, true},
    .credit_colour = {255, 255, 0},
    .strip_colour = {0, 0, 128},
    .Timer1_interval_ms = 70,
};

// Twips to the nearest whole pixel at `dpi` dots per inch: 15 twips a pixel at 96 DPI.
int twips_to_pixels(std::int32_t twips, double dpi);
// Pixels back to the nearest whole twip.
std::int32_t pixels_to_twips(int pixels, double dpi);

// The credit's left position after one marquee tick: 100 twips further left while its right
// edge, `left` plus `width` added in single precision, lies right of 0; otherwise
// `outer_width`, just beyond the window's right edge.
std::int32_t next_credit_left(std::int32_t left, std::int32_t width, std::int32_t outer_width);

}  // namespace ravel
