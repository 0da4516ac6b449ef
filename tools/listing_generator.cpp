#include "tools/listing_generator.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <string>
#include <vector>

#include "pipeline/fields.h"

namespace ravel {

namespace {

// splitmix64. The standard distributions are avoided on purpose: their output differs between
// standard libraries, and a listing must be the same bytes everywhere.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}

  std::uint64_t next() {
    state_ += 0x9e3779b97f4a7c15ULL;
    std::uint64_t mixed = state_;
    mixed = (mixed ^ (mixed >> 30)) * 0xbf58476d1ce4e5b9ULL;
    mixed = (mixed ^ (mixed >> 27)) * 0x94d049bb133111ebULL;
    return mixed ^ (mixed >> 31);
  }

  // The modulo bias is below one part in 10^12 for the small bounds used here.
  std::int64_t below(std::int64_t bound) {
    return static_cast<std::int64_t>(next() % static_cast<std::uint64_t>(bound));
  }

  std::int64_t between(std::int64_t low, std::int64_t high) { return low + below(high - low + 1); }

  bool chance_per_mille(std::int64_t per_mille) { return below(1000) < per_mille; }

 private:
  std::uint64_t state_;
};

enum class Workload { files, database, logs, virtual_machines, filer };

struct Schedule {
  std::string_view name;
  std::string_view type_code;  // 0 full, 1 differential, 2 user backup, 3 unnamed, 4 cumulative.
  std::int64_t weight;
  bool to_tape;
  std::array<std::int64_t, 2> retention_codes;  // The usual one first.
};

struct Policy {
  std::string_view name;
  Workload workload;
  std::int64_t weight;
  std::size_t media;  // Index into media_servers and disk_storage_units.
  std::string_view client_os;
  std::string_view selection;
  std::array<std::string_view, 3> clients;  // Unused places stay empty.
};

struct StatusCode {
  std::string_view code;
  std::int64_t weight;
};

constexpr std::array file_schedules{
    Schedule{"Daily_Incr", "1", 60, false, {10, 3}},
    Schedule{"Daily_Cumulative", "4", 8, false, {3, 10}},
    Schedule{"Weekly_Full", "0", 22, false, {11, 4}},
    Schedule{"Monthly_Full", "0", 6, true, {8, 12}},
    Schedule{"User_Archive", "3", 2, true, {9, 7}},
};

constexpr std::array database_schedules{
    Schedule{"Daily_Full", "0", 40, false, {10, 3}},
    Schedule{"Daily_Incr", "1", 25, false, {10, 1}},
    Schedule{"Default-Application-Backup", "2", 25, false, {1, 2}},
    Schedule{"Weekly_Full", "0", 8, false, {11, 5}},
    Schedule{"Monthly_Full", "0", 2, true, {8, 12}},
};

constexpr std::array log_schedules{
    Schedule{"Hourly_Logs", "1", 70, false, {1, 10}},
    Schedule{"Default-Application-Backup", "2", 30, false, {1, 2}},
};

constexpr std::array virtual_machine_schedules{
    Schedule{"Daily_Incr", "1", 55, false, {10, 3}},
    Schedule{"Daily_Cumulative", "4", 10, false, {3, 10}},
    Schedule{"Weekly_Full", "0", 28, false, {11, 5}},
    Schedule{"Monthly_Full", "0", 7, true, {8, 6}},
};

constexpr std::array filer_schedules{
    Schedule{"Daily_Incr", "1", 50, false, {10, 3}},
    Schedule{"Weekly_Full", "0", 40, false, {11, 4}},
    Schedule{"Monthly_Full", "0", 10, true, {8, 12}},
};

constexpr std::array<std::string_view, 4> media_servers{"media01", "media02", "media03", "media04"};
constexpr std::array<std::string_view, 4> disk_storage_units{"stu_disk_01", "stu_disk_02",
                                                             "stu_disk_03", "stu_disk_04"};

// The weights make a few busy clients (log shipping, mail, virtual machines) dominate the
// listing, as they do on a real server, so that policy groups differ widely in size.
// clang-format off
constexpr auto policies = std::to_array<Policy>({
    {"Exch_SG1_Daily",        Workload::database,         30, 0, "Windows2016", "EXCH:SG1",          {"exch-mb01", "exch-mb02"}},
    {"Exch_SG2_Daily",        Workload::database,         24, 0, "Windows2016", "EXCH:SG2",          {"exch-mb03", "exch-mb04"}},
    {"Exch_PublicFolders",    Workload::database,         5,  0, "Windows2016", "EXCH:Public",       {"exch-pf01"}},
    {"SQL_Prod_Full",         Workload::database,         28, 1, "Windows2019", "MSSQL:PROD",        {"sqlprd01", "sqlprd02"}},
    {"SQL_Prod_Logs",         Workload::logs,             60, 1, "Windows2019", "MSSQL:PROD/logs",   {"sqlprd01", "sqlprd02"}},
    {"SQL_Dev",               Workload::database,         8,  1, "Windows2019", "MSSQL:DEV",         {"sqldev01"}},
    {"SQL_Reporting",         Workload::database,         6,  1, "Windows2019", "MSSQL:RPT",         {"sqlrpt01"}},
    {"FS_Users",              Workload::files,            20, 2, "Windows2019", "D:\\Users",         {"fs-users01", "fs-users02"}},
    {"FS_Shares",             Workload::files,            16, 2, "Windows2019", "E:\\Shares",        {"fs-share01"}},
    {"FS_Profiles",           Workload::files,            8,  2, "Windows2016", "D:\\Profiles",      {"fs-prof01"}},
    {"Oracle_ERP",            Workload::database,         24, 1, "Solaris11",   "ORA:ERPPRD",        {"ora-erp01", "ora-erp02"}},
    {"Oracle_ERP_Archlogs",   Workload::logs,             40, 1, "Solaris11",   "ORA:ERPPRD/arch",   {"ora-erp01", "ora-erp02"}},
    {"Oracle_HR",             Workload::database,         10, 1, "RedHat8",     "ORA:HRPRD",         {"ora-hr01"}},
    {"Oracle_DWH",            Workload::database,         8,  3, "RedHat8",     "ORA:DWH",           {"ora-dwh01"}},
    {"VMware_Cluster1",       Workload::virtual_machines, 34, 3, "ESXi7",       "vmfs:/Cluster1",    {"vm-app01", "vm-app02", "vm-app03"}},
    {"VMware_Cluster2",       Workload::virtual_machines, 30, 3, "ESXi7",       "vmfs:/Cluster2",    {"vm-web01", "vm-web02", "vm-db01"}},
    {"VMware_VDI",            Workload::virtual_machines, 6,  3, "ESXi7",       "vmfs:/VDI",         {"vdi-gold01", "vdi-gold02"}},
    {"HyperV_Lab",            Workload::virtual_machines, 3,  3, "Windows2019", "HV:Lab",            {"hv-lab01"}},
    {"Unix_Root",             Workload::files,            12, 2, "Solaris11",   "/",                 {"unxapp01", "unxapp02"}},
    {"Unix_Apps",             Workload::files,            8,  2, "Solaris11",   "/opt/apps",         {"unxapp03"}},
    {"Linux_Web",             Workload::files,            14, 2, "RedHat8",     "/var/www",          {"web01", "web02", "web03"}},
    {"Linux_Root",            Workload::files,            8,  2, "RedHat8",     "/",                 {"lnx-util01", "lnx-util02"}},
    {"Win_System_State",      Workload::files,            12, 0, "Windows2019", "SystemState",       {"dc01", "dc02", "fs-users01"}},
    {"AD_Domain_Controllers", Workload::files,            8,  0, "Windows2019", "C:\\Windows\\NTDS", {"dc01", "dc02"}},
    {"SharePoint_Farm",       Workload::database,         8,  0, "Windows2016", "SPS:Farm1",         {"sp-app01"}},
    {"SAP_PRD",               Workload::database,         15, 1, "RedHat8",     "SAP:PRD",           {"sap-prd01"}},
    {"SAP_QAS",               Workload::database,         5,  1, "RedHat8",     "SAP:QAS",           {"sap-qas01"}},
    {"Lotus_Notes_Mail",      Workload::database,         4,  0, "Windows2012", "D:\\Notes\\mail",   {"notes01"}},
    {"NDMP_Filer01",          Workload::filer,            6,  3, "OnTap9",      "/vol/vol_home",     {"filer01"}},
    {"NDMP_Filer02",          Workload::filer,            6,  3, "OnTap9",      "/vol/vol_proj",     {"filer02"}},
    {"Catalog_Backup",        Workload::files,            3,  0, "RedHat8",     "/var/catalog",      {"bkmaster01"}},
    {"DB2_Finance",           Workload::database,         6,  1, "AIX7",        "DB2:FINPRD",        {"db2fin01"}},
    {"MySQL_Web",             Workload::database,         6,  2, "RedHat8",     "/var/lib/mysql",    {"mysql01"}},
    {"PostgreSQL_Apps",       Workload::database,         5,  2, "RedHat8",     "/var/lib/pgsql",    {"pgsql01"}},
    {"Citrix_XenApp",         Workload::files,            5,  0, "Windows2016", "C:\\Citrix Apps",   {"ctx01", "ctx02"}},
    {"Print_Servers",         Workload::files,            2,  0, "Windows2016", "C:\\Spool",         {"prn01"}},
    {"DMZ_Servers",           Workload::files,            3,  2, "RedHat8",     "/etc",              {"dmz-web01", "dmz-mail01"}},
    {"Branch_Offices",        Workload::files,            10, 2, "Windows2019", "D:\\Data",          {"br-lon01", "br-par01", "br-nyc01"}},
    {"Test_Restore",          Workload::files,            1,  2, "Windows2019", "D:\\RestoreTest",   {"fs-users01"}},
    {"Sybase_Trading",        Workload::database,         5,  1, "Solaris11",   "SYB:TRADE",         {"syb-trd01"}},
});
// clang-format on

constexpr std::array failure_codes{
    StatusCode{"1", 34},   StatusCode{"2", 4},   StatusCode{"13", 8},  StatusCode{"50", 6},
    StatusCode{"58", 8},   StatusCode{"84", 6},  StatusCode{"96", 10}, StatusCode{"150", 6},
    StatusCode{"156", 10}, StatusCode{"196", 8},
};

// Days each retention code keeps a backup; 0 stands for "never expires".
constexpr std::array<std::int64_t, 14> retention_days{315, 34,  89, 30, 61, 91,  182,
                                                      273, 365, 0,  28, 56, 365, 0};
constexpr std::array<std::string_view, 14> retention_code_texts{
    "0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13"};
constexpr std::int64_t never_expires = 2147483647;

constexpr std::int64_t largest_kb = 500000000;
constexpr std::int64_t longest_elapsed = 30000;
constexpr std::int64_t smallest_field_count = 52;
constexpr std::int64_t largest_field_count = 90;
constexpr std::size_t chunk_bytes = std::size_t{1} << 20;

// Names of the policy list that no job uses, as a server keeps them after a policy is retired.
constexpr std::array<std::string_view, 4> unused_policy_prefixes{"Retired_Policy_", "Old_",
                                                                 "Decommissioned_", "Migrated_"};

// Everything drawn for one job before its fields are laid out.
struct Job {
  std::int64_t id = 0;
  std::string_view type_code;
  std::string_view state_code;
  std::string_view status;
  const Policy* policy = nullptr;
  const Schedule* schedule = nullptr;
  std::string_view client;
  std::int64_t start = 0;
  std::int64_t elapsed = 0;
  std::string_view storage_unit;
  std::int64_t kb = 0;
  std::int64_t file_count = 0;
  std::int64_t retention = 0;
  std::int64_t rate = 0;
  std::int64_t write_rate = 0;
  std::int64_t read_rate = 0;
  std::string_view selector;
};

// Produces one job line after another. Fields are views into constant tables or into a scratch
// arena for numbers, so a line costs no allocation; the line is then appended to the caller's
// buffer in one pass.
class ListingGenerator {
 public:
  explicit ListingGenerator(const ListingOptions& options)
      : random_(options.seed),
        next_id_(options.newest_id),
        next_start_(options.newest_start),
        jobs_left_(options.job_count),
        line_end_(options.crlf ? "\r\n" : "\n") {}

  // Appends the next job's line, line end included.
  void append_next_line(std::string& out);

 private:
  Job draw_job();
  std::int64_t draw_field_count();
  void lay_out_fixed_fields(const Job& job);
  void lay_out_trailing_fields(const Job& job, std::int64_t field_count);
  void lay_out_end_relative_fields(const Job& job, std::int64_t field_count);
  void advance();

  std::string_view number(std::int64_t value);
  std::string_view backup_id(std::string_view client, std::int64_t start);

  Random random_;
  std::int64_t next_id_;
  std::int64_t next_start_;
  std::int64_t jobs_left_;
  std::string_view line_end_;
  std::array<std::string_view, largest_field_count> fields_{};
  std::array<char, 4096> scratch_{};
  std::size_t scratch_used_ = 0;
};

}  // namespace

template <typename Entry, std::size_t size>
static const Entry& pick_weighted(Random& random, const std::array<Entry, size>& entries) {
  std::int64_t total = 0;
  for (const Entry& entry : entries) total += entry.weight;
  std::int64_t ticket = random.below(total);
  for (const Entry& entry : entries) {
    if (ticket < entry.weight) return entry;
    ticket -= entry.weight;
  }
  return entries.back();
}

static const Schedule& pick_schedule(Random& random, Workload workload) {
  switch (workload) {
    case Workload::files:
      return pick_weighted(random, file_schedules);
    case Workload::database:
      return pick_weighted(random, database_schedules);
    case Workload::logs:
      return pick_weighted(random, log_schedules);
    case Workload::virtual_machines:
      return pick_weighted(random, virtual_machine_schedules);
    case Workload::filer:
      return pick_weighted(random, filer_schedules);
  }
  return file_schedules.front();
}

static std::string_view pick_client(Random& random, const Policy& policy) {
  const auto used = std::count_if(policy.clients.begin(), policy.clients.end(),
                                  [](std::string_view client) { return !client.empty(); });
  return policy.clients[static_cast<std::size_t>(random.below(used))];
}

// Most jobs end within minutes, a few run for hours; failed jobs give up early.
static std::int64_t draw_elapsed(Random& random, Workload workload, bool failed) {
  if (failed) return random.between(0, 900);
  if (workload == Workload::logs) return random.between(3, 400);
  const std::int64_t bucket = random.below(100);
  if (bucket < 50) return random.between(5, 600);
  if (bucket < 85) return random.between(601, 3600);
  if (bucket < 98) return random.between(3601, 14400);
  return random.between(14401, longest_elapsed);
}

static std::int64_t draw_base_rate(Random& random, Workload workload) {
  switch (workload) {
    case Workload::files:
      return random.between(2000, 40000);
    case Workload::database:
    case Workload::logs:
      return random.between(10000, 120000);
    case Workload::virtual_machines:
      return random.between(30000, 150000);
    case Workload::filer:
      return random.between(20000, 80000);
  }
  return 0;
}

static std::int64_t draw_file_count(Random& random, Workload workload, std::int64_t kb) {
  switch (workload) {
    case Workload::files:
      return kb / random.between(20, 400) + (kb > 0 ? 1 : 0);
    case Workload::filer:
      return kb / random.between(50, 800) + (kb > 0 ? 1 : 0);
    case Workload::database:
      return random.between(1, 40);
    case Workload::logs:
      return random.between(1, 12);
    case Workload::virtual_machines:
      return random.between(1, 24);
  }
  return 0;
}

static std::int64_t draw_retention(Random& random, const Schedule& schedule) {
  // A few jobs carry a retention that their schedule does not normally use, so that every
  // code, and now and then the unnamed code 13, occurs in a long listing.
  if (random.chance_per_mille(2)) return 13;
  if (random.chance_per_mille(30)) return random.between(0, 12);
  return schedule.retention_codes[random.chance_per_mille(750) ? 0 : 1];
}

static std::string_view draw_storage_unit(Random& random, const Policy& policy,
                                          const Schedule& schedule) {
  // Some jobs end before a storage unit is assigned to them.
  if (random.chance_per_mille(50)) return "";
  if (schedule.to_tape) return random.chance_per_mille(600) ? "stu_tape_lto6" : "stu_tape_lto7";
  // Virtual machine backups land on deduplicating storage, spread over two units.
  if (policy.workload == Workload::virtual_machines) {
    return random.chance_per_mille(700) ? "stu_dedup_01" : "stu_dedup_02";
  }
  return disk_storage_units[policy.media];
}

static std::string_view draw_selector(Random& random) {
  const std::int64_t ticket = random.below(1000);
  if (ticket < 880) return "1";
  if (ticket < 980) return "";
  if (ticket < 990) return "0";
  return "2";
}

// These counts would put an end-relative field (20th, 21st or 23rd from the end) on position 34
// or 51, which the batch reports read as transfer rate and backup id.
static bool is_excluded_field_count(std::int64_t field_count) {
  switch (field_count) {
    case 54:
    case 55:
    case 57:
    case 71:
    case 72:
    case 74:
      return true;
    default:
      return false;
  }
}

Job ListingGenerator::draw_job() {
  Job job;
  job.id = next_id_;
  job.start = next_start_;
  const std::int64_t type_ticket = random_.below(100);
  job.type_code = type_ticket < 93 ? "0" : type_ticket < 96 ? "6" : type_ticket < 98 ? "4" : "2";
  job.state_code = random_.chance_per_mille(990) ? "3" : "1";
  job.status = random_.chance_per_mille(850) ? "0" : pick_weighted(random_, failure_codes).code;
  job.policy = &pick_weighted(random_, policies);
  job.schedule = &pick_schedule(random_, job.policy->workload);
  job.client = pick_client(random_, *job.policy);

  const Workload workload = job.policy->workload;
  const bool failed = job.status != "0" && job.status != "1";
  job.elapsed = draw_elapsed(random_, workload, failed);
  const std::int64_t moved = job.elapsed * draw_base_rate(random_, workload);
  job.kb = failed ? random_.between(0, moved / 10) : moved * random_.between(60, 100) / 100;
  // Jobs that would exceed the largest size spread over its upper half instead of piling up on
  // one value, which no real server shows.
  if (job.kb > largest_kb) job.kb = random_.between(largest_kb / 2, largest_kb);
  job.file_count = draw_file_count(random_, workload, job.kb);
  job.rate = job.elapsed > 0 ? job.kb / job.elapsed : 0;
  job.write_rate = job.rate * random_.between(100, 135) / 100;
  job.read_rate = job.rate * random_.between(65, 99) / 100;

  job.storage_unit = draw_storage_unit(random_, *job.policy, *job.schedule);
  job.retention = draw_retention(random_, *job.schedule);
  job.selector = draw_selector(random_);
  return job;
}

// Most lines have 60 to 80 fields; the rest spread over the whole allowed range.
std::int64_t ListingGenerator::draw_field_count() {
  for (;;) {
    const std::int64_t field_count =
        random_.chance_per_mille(800) ? random_.between(60, 80)
                                      : random_.between(smallest_field_count, largest_field_count);
    if (!is_excluded_field_count(field_count)) return field_count;
  }
}

std::string_view ListingGenerator::number(std::int64_t value) {
  char* const begin = scratch_.data() + scratch_used_;
  const auto result = std::to_chars(begin, scratch_.data() + scratch_.size(), value);
  scratch_used_ = static_cast<std::size_t>(result.ptr - scratch_.data());
  return {begin, static_cast<std::size_t>(result.ptr - begin)};
}

std::string_view ListingGenerator::backup_id(std::string_view client, std::int64_t start) {
  char* const begin = scratch_.data() + scratch_used_;
  std::copy(client.begin(), client.end(), begin);
  begin[client.size()] = '_';
  scratch_used_ += client.size() + 1;
  const std::string_view digits = number(start);
  return {begin, client.size() + 1 + digits.size()};
}

void ListingGenerator::lay_out_fixed_fields(const Job& job) {
  const Policy& policy = *job.policy;
  const bool windows = policy.client_os.starts_with("Windows");
  const std::int64_t days = retention_days[static_cast<std::size_t>(job.retention)];
  fields_[0] = number(job.id);
  fields_[1] = job.type_code;
  fields_[2] = job.state_code;
  fields_[3] = job.status;
  fields_[4] = policy.name;
  fields_[5] = job.schedule->name;
  fields_[6] = job.client;
  fields_[7] = media_servers[policy.media];
  fields_[8] = number(job.start);
  fields_[9] = number(job.elapsed);
  fields_[10] = number(job.start + job.elapsed);
  fields_[11] = job.storage_unit;
  fields_[12] = job.status == "0" || random_.chance_per_mille(700) ? "1" : "2";
  fields_[13] = "0";
  fields_[14] = number(job.kb);
  fields_[15] = number(job.file_count);
  fields_[16] = windows ? "SYSTEM" : "root";
  fields_[17] = windows ? "" : "bin";
  fields_[18] = "master01";
  fields_[19] = "0";
  fields_[20] = "0";
  fields_[21] = random_.chance_per_mille(300) ? "1" : "0";
  fields_[22] = job.schedule->type_code;
  fields_[23] = "0";
  fields_[24] = number(random_.between(1000, 65535));
  fields_[25] = "1";
  fields_[26] = policy.client_os;
  fields_[27] = retention_code_texts[static_cast<std::size_t>(job.retention)];
  fields_[28] = policy.selection;
  fields_[29] = "0";
  fields_[30] = "1";
  fields_[31] = "0";
  fields_[32] = "";
  fields_[33] = "";
  fields_[34] = number(job.rate);
  fields_[35] = "1";
  fields_[36] = "0";
  fields_[37] = "0";
  fields_[38] = number(random_.between(10000, 999999));
  fields_[39] = "0";
  fields_[40] = days == 0 ? number(never_expires) : number(job.start + days * 86400);
  fields_[41] = "";
  fields_[42] = "0";
  fields_[43] = "1";
  fields_[44] = "";
  fields_[45] = "";
  fields_[46] = "0";
  fields_[47] = "0";
  fields_[48] = "";
  fields_[49] = "0";
  fields_[50] = "0";
  fields_[51] = backup_id(job.client, job.start);
}

// Fields after position 51 come in two parts, as they would from a server that lists a varying
// number of attempts: repeated groups of six after the fixed fields, and a tail whose fields
// keep their place counted from the end of the line.
void ListingGenerator::lay_out_trailing_fields(const Job& job, std::int64_t field_count) {
  const std::int64_t tail_length = 23;
  for (std::int64_t position = 52; position < field_count; ++position) {
    std::string_view& field = fields_[static_cast<std::size_t>(position)];
    const std::int64_t from_end = field_count - position;
    if (from_end > tail_length) {
      switch ((position - 52) % 6) {
        case 0:
          field = media_servers[job.policy->media];
          break;
        case 1:
          field = number(job.start + (position - 52) / 6 * 7);
          break;
        case 2:
          field = "1";
          break;
        case 3:
          field = "";
          break;
        case 4:
          field = "0";
          break;
        default:
          field = job.storage_unit;
          break;
      }
      continue;
    }
    switch (from_end) {
      case 4:
        field = job.client;
        break;
      case 5:
      case 14:
      case 19:
        field = "1";
        break;
      case 1:
      case 6:
      case 11:
      case 15:
        field = "";
        break;
      case 7:
        field = job.elapsed > 0 ? "1" : "0";
        break;
      case 9:
        field = job.kb > 0 ? "1" : "0";
        break;
      case 12:
        field = job.schedule->to_tape ? "tape" : "disk";
        break;
      case 17:
        field = media_servers[job.policy->media];
        break;
      default:
        field = "0";
        break;
    }
  }
}

// Written last, so that on short lines these fields win over the fixed ones they overlap.
void ListingGenerator::lay_out_end_relative_fields(const Job& job, std::int64_t field_count) {
  fields_[static_cast<std::size_t>(field_count - 20)] = job.selector;
  fields_[static_cast<std::size_t>(field_count - 21)] = number(job.write_rate);
  fields_[static_cast<std::size_t>(field_count - 23)] = number(job.read_rate);
}

// Ids mostly step down by one; a skipped id is a job that the dump left out. Starts keep the
// newest-first order and never reach 0, which marks an unusable job.
void ListingGenerator::advance() {
  --jobs_left_;
  std::int64_t step = random_.chance_per_mille(920) ? 1 : random_.between(2, 5);
  step = std::max<std::int64_t>(1, std::min(step, next_id_ - jobs_left_));
  next_id_ -= step;

  const std::int64_t bucket = random_.below(100);
  std::int64_t gap = 0;
  if (bucket < 20) {
    gap = 0;
  } else if (bucket < 80) {
    gap = random_.between(1, 120);
  } else if (bucket < 98) {
    gap = random_.between(121, 900);
  } else {
    gap = random_.between(901, 3600);
  }
  next_start_ -= std::min(gap, next_start_ - 1);
}

void ListingGenerator::append_next_line(std::string& out) {
  scratch_used_ = 0;
  const Job job = draw_job();
  const std::int64_t field_count = draw_field_count();
  lay_out_fixed_fields(job);
  lay_out_trailing_fields(job, field_count);
  lay_out_end_relative_fields(job, field_count);
  for (std::int64_t position = 0; position < field_count; ++position) {
    if (position > 0) out.push_back(',');
    out.append(fields_[static_cast<std::size_t>(position)]);
  }
  out.append(line_end_);
  advance();
}

static std::string collect(const std::function<void(const TextSink&)>& generate) {
  std::string text;
  generate([&text](std::string_view chunk) { text.append(chunk); });
  return text;
}

// The policies of a listing in the order of their first job, newest first.
static std::vector<std::string_view> policies_in_order_of_appearance(std::string_view listing) {
  std::vector<std::string_view> names;
  LineFields fields;
  while (!listing.empty()) {
    const std::size_t end = listing.find('\n');
    fields.split(listing.substr(0, end));
    if (std::find(names.begin(), names.end(), fields[4]) == names.end()) {
      names.push_back(fields[4]);
    }
    listing.remove_prefix(end + 1);
  }
  return names;
}

void generate_listing(const ListingOptions& options, const TextSink& sink) {
  ListingGenerator generator(options);
  std::string buffer;
  buffer.reserve(chunk_bytes + 4096);
  for (std::int64_t line = 0; line < options.job_count; ++line) {
    generator.append_next_line(buffer);
    if (buffer.size() >= chunk_bytes) {
      sink(buffer);
      buffer.clear();
    }
  }
  if (!buffer.empty()) sink(buffer);
}

std::string listing_text(const ListingOptions& options) {
  return collect([&options](const TextSink& sink) { generate_listing(options, sink); });
}

void generate_policy_list(const PolicyListOptions& options, const TextSink& sink) {
  // A seed of its own keeps the order independent of any listing drawn with the same seed.
  Random random(options.seed ^ 0x5eed0f9011c1e5ULL);
  const std::string_view line_end = options.crlf ? "\r\n" : "\n";

  std::vector<std::string_view> used_names;
  for (const Policy& policy : policies) used_names.push_back(policy.name);
  for (std::size_t index = used_names.size() - 1; index > 0; --index) {
    const auto other = static_cast<std::size_t>(random.below(static_cast<std::int64_t>(index) + 1));
    std::swap(used_names[index], used_names[other]);
  }

  std::string buffer;
  for (std::int64_t index = 0; index < options.count; ++index) {
    if (index < static_cast<std::int64_t>(used_names.size())) {
      buffer.append(used_names[static_cast<std::size_t>(index)]);
    } else {
      // The running number keeps every extra name distinct, whatever its prefix.
      const std::int64_t serial = index - static_cast<std::int64_t>(used_names.size()) + 1;
      const std::string digits = std::to_string(serial);
      buffer.append(unused_policy_prefixes[static_cast<std::size_t>(
          random.below(std::ssize(unused_policy_prefixes)))]);
      buffer.append(digits.size() < 4 ? 4 - digits.size() : 0, '0');
      buffer.append(digits);
    }
    buffer.append(line_end);
    if (buffer.size() >= chunk_bytes) {
      sink(buffer);
      buffer.clear();
    }
  }
  if (!buffer.empty()) sink(buffer);
}

std::string policy_list_text(const PolicyListOptions& options) {
  return collect([&options](const TextSink& sink) { generate_policy_list(options, sink); });
}

SampleSet make_sample_set() {
  constexpr std::int64_t new_job_count = 40;
  constexpr std::size_t listed_policy_count = 12;
  // The name that matches nothing sits among the others, so that its "Not Found" row appears
  // between two policy groups rather than at an edge of the table.
  constexpr std::size_t unmatched_name_place = 8;

  SampleSet sample;
  sample.listing = listing_text(ListingOptions{.job_count = 400});

  std::string_view rest = sample.listing;
  for (std::int64_t line = 0; line < new_job_count; ++line) rest.remove_prefix(rest.find('\n') + 1);
  sample.job_marker = std::string(rest.substr(0, rest.find(','))) + "\r\n";

  std::vector<std::string_view> names = policies_in_order_of_appearance(sample.listing);
  names.resize(std::min(names.size(), listed_policy_count));
  names.insert(
      names.begin() + static_cast<std::ptrdiff_t>(std::min(names.size(), unmatched_name_place)),
      "Retired_Policy_0413");
  for (const std::string_view name : names) {
    sample.policy_list.append(name);
    sample.policy_list.append("\r\n");
  }
  return sample;
}

}  // namespace ravel
