#include "console/process_listing.h"

#include "console/job_grouping.h"
#include "console/job_selection.h"
#include "pipeline/file_names.h"
#include "pipeline/text_file.h"

namespace ravel {

// The first pass writes out.txt and out2.txt whole; only then is the policy list opened, so a
// missing one leaves both complete and the job table as it was.
void process_listing(const Folder& folder, const ReportingWindow& window) {
  {
    LineReader listing(folder, job_listing_name);
    TextWriter interim(folder, interim_file_name);
    TextWriter side(folder, side_file_name);
    select_jobs(listing, interim, side, window);
    interim.close();
    side.close();
  }
  LineReader policies(folder, policy_list_name);
  TextWriter table(folder, job_table_name);
  group_jobs(
      policies, [&folder] { return LineReader(folder, interim_file_name); }, table,
      ScratchSpace{.scratch_folder = folder});
  table.close();
}

}  // namespace ravel
