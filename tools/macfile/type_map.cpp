#include "tools/macfile/type_map.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>

namespace macfile {
namespace {

bool ends_with_ignoring_case(std::string_view name, std::string_view extension) {
  if (extension.size() > name.size()) return false;
  return std::equal(extension.begin(), extension.end(),
                    name.end() - static_cast<std::ptrdiff_t>(extension.size()), [](char a, char b) {
                      return std::tolower(static_cast<unsigned char>(a)) ==
                             std::tolower(static_cast<unsigned char>(b));
                    });
}

// The next word of a map line: a quoted one ('...' or "...") may hold spaces.
std::optional<std::string> next_word(std::string_view line, std::size_t& at, bool& quoted) {
  while (at < line.size() && std::isspace(static_cast<unsigned char>(line[at]))) ++at;
  if (at >= line.size()) return std::nullopt;
  quoted = line[at] == '\'' || line[at] == '"';
  if (quoted) {
    const char quote = line[at];
    const auto end = line.find(quote, at + 1);
    if (end == std::string_view::npos) return std::nullopt;
    std::string word(line.substr(at + 1, end - at - 1));
    at = end + 1;
    return word;
  }
  const auto start = at;
  while (at < line.size() && !std::isspace(static_cast<unsigned char>(line[at]))) ++at;
  return std::string(line.substr(start, at - start));
}

}  // namespace

const type_map& default_type_map() {
  static const type_map map = [] {
    type_map m;
    const struct {
      const char* extensions;
      const char* type;
      const char* creator;
    } kinds[] = {
        {".txt .text .md .csv .c .h .cpp .s", "TEXT", "ttxt"},
        {".html .htm", "TEXT", "MOSS"},
        {".rtf", "TEXT", "MSWD"},
        {".doc", "WDBN", "MSWD"},
        {".xls", "XLS ", "XCEL"},
        {".pdf", "PDF ", "CARO"},
        {".jpg .jpeg", "JPEG", "ogle"},
        {".gif", "GIFf", "ogle"},
        {".png", "PNGf", "ogle"},
        {".tif .tiff", "TIFF", "ogle"},
        {".pict .pct", "PICT", "ttxt"},
        {".bmp", "BMPf", "ogle"},
        {".mov", "MooV", "TVOD"},
        {".mpg .mpeg", "MPEG", "TVOD"},
        {".mp3", "MPG3", "TVOD"},
        {".aif .aiff", "AIFF", "TVOD"},
        {".wav", "WAVE", "TVOD"},
        {".mid .midi", "Midi", "TVOD"},
        {".sit", "SIT!", "SITx"},
        {".sea", "APPL", "????"},
        {".hqx", "TEXT", "BnHq"},
        {".zip", "ZIP ", "SITx"},
        {".gz .tgz", "Gzip", "SITx"},
        {".tar", "TARF", "SITx"},
        {".img .dsk .image", "dImg", "dCpy"},
        {".smi", "APPL", "oneb"},
        {".ttf", "tfil", "movr"},
    };
    for (const auto& kind : kinds) {
      std::string_view list = kind.extensions;
      while (!list.empty()) {
        const auto space = list.find(' ');
        m.rows.push_back({std::string(list.substr(0, space)), {kind.type, kind.creator}});
        list = space == std::string_view::npos ? std::string_view{} : list.substr(space + 1);
      }
    }
    return m;
  }();
  return map;
}

bool parse_type_map(std::string_view text, type_map& map, std::string& error) {
  type_map parsed;
  std::size_t number = 0;
  while (!text.empty()) {
    const auto newline = text.find('\n');
    std::string_view line = text.substr(0, newline);
    text = newline == std::string_view::npos ? std::string_view{} : text.substr(newline + 1);
    ++number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::size_t at = 0;
    bool quoted = false;
    const auto extension = next_word(line, at, quoted);
    if (!extension || (!quoted && extension->front() == '#')) continue;
    const auto translation = next_word(line, at, quoted);
    const auto creator = next_word(line, at, quoted);
    const auto type = next_word(line, at, quoted);
    if (!translation || !creator || !type) {
      error = "line " + std::to_string(number) + ": expected EXTENSION TRANSLATION 'CREA' 'TYPE'";
      return false;
    }
    if (creator->size() != 4 || type->size() != 4) {
      error = "line " + std::to_string(number) + ": creator and type are 4 characters each";
      return false;
    }
    if (*extension == "*") {
      parsed.fallback = {*type, *creator};
    } else {
      parsed.rows.push_back({*extension, {*type, *creator}});
    }
  }
  map = std::move(parsed);
  return true;
}

type_creator look_up(const type_map& map, std::string_view file_name) {
  for (const auto& row : map.rows) {
    if (ends_with_ignoring_case(file_name, row.extension)) return row.code;
  }
  return map.fallback;
}

}  // namespace macfile
