#include "tools/macfile/folder_plan.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <system_error>

#include "tools/macfile/mac_formats.h"
#include "tools/macfile/mac_roman.h"

namespace macfile {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t hfs_name_limit = 31;
// BinHex's first line may follow mail or news headers.
constexpr std::size_t binhex_search_length = 65536;
// A sidecar holds the Finder information and a resource fork: small.
constexpr std::uintmax_t sidecar_limit = 64u << 20;

struct plan_failure {
  std::string what;
};

std::string read_bytes(const fs::path& path, std::uintmax_t limit) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw plan_failure{"cannot read " + path.string()};
  std::string bytes(static_cast<std::size_t>(limit), '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(limit));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return bytes;
}

std::span<const std::uint8_t> as_bytes(const std::string& bytes) {
  return {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
}

bool ends_with_ignoring_case(const std::string& name, std::string_view suffix) {
  if (name.size() <= suffix.size()) return false;
  for (std::size_t i = 0; i < suffix.size(); ++i) {
    const char c = name[name.size() - suffix.size() + i];
    if ((c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c) != suffix[i]) return false;
  }
  return true;
}

class planner {
 public:
  explicit planner(const plan_request& request) : request_(request) {}

  plan_result run() {
    plan_result result;
    try {
      open_lists();
      walk(request_.mac_dir, "", "");
      if (!request_.bless.empty()) write_bless();
      if (!problems_.empty()) {
        result.outcome = plan_result::status::names_refused;
        result.problems = std::move(problems_);
        return result;
      }
      write_types();
      close_direct();
      for (auto* list : {&folders_, &raw_, &single_, &bless_}) {
        list->close();
        if (!*list) throw plan_failure{"cannot write into " + request_.staging.string()};
      }
      result.notes = std::move(notes_);
    } catch (const plan_failure& failure) {
      result.outcome = plan_result::status::failed;
      result.failure = failure.what;
    } catch (const fs::filesystem_error& error) {
      result.outcome = plan_result::status::failed;
      result.failure = error.path1().string() + ": " + error.code().message();
    }
    return result;
  }

 private:
  void open_lists() {
    const auto open = [&](std::ofstream& list, const char* name) {
      list.open(request_.staging / name, std::ios::binary);
      if (!list) throw plan_failure{"cannot write into " + request_.staging.string()};
    };
    open(folders_, "folders");
    open(raw_, "raw");
    open(single_, "single");
    open(bless_, "bless");
  }

  static void record(std::ofstream& list, std::string_view field) {
    list.write(field.data(), static_cast<std::streamsize>(field.size()));
    list.put('\0');
  }

  // The Mac Roman name of an entry, or nothing after its problems are noted.
  std::optional<std::string> hfs_name(const std::string& name, const std::string& shown,
                                      std::map<std::string, std::string>& taken) {
    const mac_roman_name mac = to_mac_roman(name);
    bool sound = true;
    if (mac.bad_utf8) {
      problems_.push_back("not a UTF-8 name: " + shown);
      return std::nullopt;
    }
    if (!mac.ok) {
      char code[16];
      std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(mac.missing));
      problems_.push_back(std::string("holds a character Mac Roman lacks (") + code +
                          "): " + shown);
      return std::nullopt;
    }
    if (mac.bytes.size() > hfs_name_limit) {
      problems_.push_back("longer than 31 characters: " + shown);
      sound = false;
    }
    if (mac.bytes.find(':') != std::string::npos) {
      problems_.push_back("holds ':', the HFS path separator: " + shown);
      sound = false;
    }
    const auto [at, fresh] = taken.emplace(hfs_compare_key(mac.bytes), shown);
    if (!fresh) {
      problems_.push_back("one HFS name for two entries (HFS ignores case): " + at->second +
                          " and " + shown);
      sound = false;
    }
    if (!sound) return std::nullopt;
    return mac.bytes;
  }

  // The AppleDouble file that holds NAME's resource fork and Finder
  // information: "._NAME" beside it, or in a __MACOSX folder that a zip
  // archive made in a folder above it.
  std::optional<std::string> sidecar_of(const fs::path& folder, const std::string& rel_folder,
                                        const std::string& name) {
    std::vector<fs::path> candidates{folder / ("._" + name)};
    std::string above = rel_folder, below;
    while (true) {
      fs::path macosx = request_.mac_dir / above / "__MACOSX" / below / ("._" + name);
      candidates.push_back(macosx.lexically_normal());
      if (above.empty()) break;
      const auto slash = above.rfind('/');
      const std::string last = slash == std::string::npos ? above : above.substr(slash + 1);
      below = below.empty() ? last : last + "/" + below;
      above = slash == std::string::npos ? "" : above.substr(0, slash);
    }
    for (const auto& candidate : candidates) {
      std::error_code error;
      if (!fs::is_regular_file(candidate, error)) continue;
      std::string bytes = read_bytes(candidate, sidecar_limit);
      if (parse_apple_double(as_bytes(bytes))) return bytes;
    }
    return std::nullopt;
  }

  fs::path next_single() { return request_.staging / ("mac." + std::to_string(singles_++)); }

  void add_single(char mode, const fs::path& staged, const std::string& hfs_path) {
    record(single_, std::string(1, mode));
    record(single_, staged.string());
    record(single_, hfs_path);
  }

  static void copy_into(std::ofstream& out, const fs::path& from, std::uintmax_t skip,
                        std::uintmax_t length) {
    std::ifstream in(from, std::ios::binary);
    if (!in) throw plan_failure{"cannot read " + from.string()};
    in.seekg(static_cast<std::streamoff>(skip));
    std::vector<char> buffer(1 << 16);
    while (length > 0 && in) {
      const auto chunk =
          static_cast<std::streamsize>(std::min<std::uintmax_t>(length, buffer.size()));
      in.read(buffer.data(), chunk);
      out.write(buffer.data(), in.gcount());
      length -= static_cast<std::uintmax_t>(in.gcount());
    }
    if (length > 0) throw plan_failure{"cannot read all of " + from.string()};
  }

  static void pad(std::ofstream& out, std::uintmax_t length) {
    for (auto n = (128 - length % 128) % 128; n > 0; --n) out.put('\0');
  }

  // A file and its AppleDouble sidecar as one MacBinary II file.
  void stage_apple_double(const fs::path& source, const std::string& sidecar,
                          const std::string& mac_name, const std::string& hfs_path) {
    const apple_double entries = *parse_apple_double(as_bytes(sidecar));
    const std::uintmax_t data_length = fs::file_size(source);
    if (data_length > 0x7FFFFFFF) {
      problems_.push_back("larger than an HFS file can be: " + source.string());
      return;
    }
    std::array<std::uint8_t, 32> finder_info{};
    if (entries.finder_info) {
      finder_info = *entries.finder_info;
    } else {
      const type_creator code = look_up(*request_.map, source.filename().string());
      std::copy_n(code.type.begin(), 4, finder_info.begin());
      std::copy_n(code.creator.begin(), 4, finder_info.begin() + 4);
    }
    const auto date = [](std::optional<std::uint32_t> d) {
      return d ? mac_date_from_apple_double(*d) : 0u;
    };
    const macbinary_header header = make_macbinary_header(
        mac_name, finder_info, static_cast<std::uint32_t>(data_length), entries.resource_length,
        date(entries.created), date(entries.modified));
    const fs::path staged = next_single();
    std::ofstream out(staged, std::ios::binary);
    out.write(reinterpret_cast<const char*>(header.data()), header.size());
    copy_into(out, source, 0, data_length);
    pad(out, data_length);
    out.write(sidecar.data() + entries.resource_offset, entries.resource_length);
    pad(out, entries.resource_length);
    out.close();
    if (!out) throw plan_failure{"cannot write " + staged.string()};
    add_single('m', staged, hfs_path);
  }

  void stage_old_macbinary(const fs::path& source, const std::string& head,
                           const std::string& hfs_path) {
    macbinary_header header;
    std::copy_n(as_bytes(head).begin(), header.size(), header.begin());
    header = upgrade_macbinary(header);
    const fs::path staged = next_single();
    std::ofstream out(staged, std::ios::binary);
    out.write(reinterpret_cast<const char*>(header.data()), header.size());
    const std::uintmax_t length = fs::file_size(source);
    copy_into(out, source, header.size(), length - header.size());
    out.close();
    if (!out) throw plan_failure{"cannot write " + staged.string()};
    add_single('m', staged, hfs_path);
  }

  // The files a folder's hcopy takes as they are, listed in FOLDER.list
  // beside the folder of its links.
  void record_path(const fs::path& raw_dir, const fs::path& source) {
    if (!direct_.is_open() || direct_for_ != raw_dir) {
      close_direct();
      direct_for_ = raw_dir;
      direct_.open(raw_dir.string() + ".list", std::ios::binary);
      if (!direct_) throw plan_failure{"cannot write into " + request_.staging.string()};
    }
    record(direct_, fs::absolute(source).string());
  }

  void close_direct() {
    if (!direct_.is_open()) return;
    direct_.close();
    if (!direct_) throw plan_failure{"cannot write into " + request_.staging.string()};
  }

  void stage_link(const fs::path& source, const fs::path& link) {
    fs::create_symlink(fs::absolute(source), link);
  }

  void walk(const fs::path& folder, const std::string& rel, const std::string& hfs) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    std::map<std::string, std::string> taken;
    std::vector<std::pair<fs::path, std::string>> subfolders;
    const fs::path raw_dir = request_.staging / ("raw." + std::to_string(folder_count_++));
    bool raw_used = false;
    for (const auto& name : names) {
      const fs::path path = folder / name;
      const std::string shown = rel.empty() ? name : rel + "/" + name;
      std::error_code error;
      const auto link_status = fs::symlink_status(path);
      const auto status = fs::status(path, error);
      if (fs::is_symlink(link_status) && fs::is_directory(status)) {
        problems_.push_back("a link to a folder: " + shown);
        continue;
      }
      if (fs::is_directory(status)) {
        // A zip archive's __MACOSX folder only holds the sidecars of the
        // files beside it.
        if (name == "__MACOSX") continue;
        if (const auto mac = hfs_name(name, shown, taken)) {
          const std::string hfs_path = hfs + ":" + *mac;
          record(folders_, hfs_path);
          folders_of_[shown] = hfs_path;
          subfolders.emplace_back(path, hfs_path);
        }
        continue;
      }
      if (!fs::is_regular_file(status)) {
        problems_.push_back("neither a file nor a folder: " + shown);
        continue;
      }
      if (name.size() > 2 && name.starts_with("._")) {
        const std::string bytes = read_bytes(path, sidecar_limit);
        if (parse_apple_double(as_bytes(bytes))) {
          // Read with the file it belongs to; a folder's is not carried.
          if (!fs::exists(folder / name.substr(2), error)) {
            notes_.push_back("left out " + shown + ": Mac information for " + name.substr(2) +
                             ", which is not there");
          }
          continue;
        }
      }
      plan_file(path, name, shown, hfs, taken, raw_dir, raw_used, rel);
    }
    if (raw_used) {
      record(raw_, raw_dir.string());
      record(raw_, hfs.empty() ? ":" : hfs + ":");
    }
    for (const auto& [path, hfs_path] : subfolders) {
      const std::string shown = path.lexically_relative(request_.mac_dir).generic_string();
      walk(path, shown, hfs_path);
    }
  }

  void plan_file(const fs::path& path, const std::string& name, const std::string& shown,
                 const std::string& hfs, std::map<std::string, std::string>& taken,
                 const fs::path& raw_dir, bool& raw_used, const std::string& rel) {
    const std::uintmax_t length = fs::file_size(path);
    if (const auto sidecar = sidecar_of(path.parent_path(), rel, name)) {
      if (const auto mac = hfs_name(name, shown, taken)) {
        stage_apple_double(path, *sidecar, *mac, hfs + ":" + *mac);
      }
      return;
    }
    if (ends_with_ignoring_case(name, ".bin")) {
      const std::string head = read_bytes(path, macbinary_header_size);
      const macbinary_kind kind = detect_macbinary(as_bytes(head), length);
      if (kind != macbinary_kind::none) {
        if (const auto mac = hfs_name(name.substr(0, name.size() - 4), shown, taken)) {
          if (kind == macbinary_kind::version_2) {
            const fs::path staged = next_single();
            stage_link(path, staged);
            add_single('m', staged, hfs + ":" + *mac);
          } else {
            stage_old_macbinary(path, head, hfs + ":" + *mac);
          }
        }
        return;
      }
    }
    if (ends_with_ignoring_case(name, ".hqx") &&
        looks_like_binhex(read_bytes(path, binhex_search_length))) {
      if (const auto mac = hfs_name(name.substr(0, name.size() - 4), shown, taken)) {
        const fs::path staged = next_single();
        stage_link(path, staged);
        add_single('b', staged, hfs + ":" + *mac);
      }
      return;
    }
    const auto mac = hfs_name(name, shown, taken);
    if (!mac || !problems_.empty()) return;
    if (!raw_used) fs::create_directory(raw_dir);
    raw_used = true;
    // hcopy names a file after its source: only a file whose HFS name
    // differs from its own needs a link of that name.
    if (*mac == name) {
      record_path(raw_dir, path);
    } else {
      stage_link(path, raw_dir / *mac);
    }
    const type_creator code = look_up(*request_.map, name);
    types_[code.type + code.creator].push_back(hfs + ":" + *mac);
  }

  void write_bless() {
    std::string folder = fs::path(request_.bless).lexically_normal().generic_string();
    while (!folder.empty() && folder.back() == '/') folder.pop_back();
    const auto at = folders_of_.find(folder);
    if (at == folders_of_.end()) {
      throw plan_failure{"--bless " + request_.bless + ": no such folder in " +
                         request_.mac_dir.string()};
    }
    record(bless_, at->second);
  }

  void write_types() {
    std::size_t index = 0;
    for (const auto& [code, paths] : types_) {
      std::ofstream list(request_.staging / ("types." + std::to_string(index++)), std::ios::binary);
      record(list, code);
      for (const auto& path : paths) record(list, path);
      list.close();
      if (!list) throw plan_failure{"cannot write into " + request_.staging.string()};
    }
  }

  const plan_request& request_;
  std::ofstream folders_, raw_, single_, bless_, direct_;
  fs::path direct_for_;
  std::vector<std::string> problems_, notes_;
  std::map<std::string, std::vector<std::string>> types_;
  std::map<std::string, std::string> folders_of_;
  std::size_t folder_count_ = 0, singles_ = 0;
};

}  // namespace

plan_result make_plan(const plan_request& request) { return planner(request).run(); }

}  // namespace macfile
