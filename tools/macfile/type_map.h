// Type and creator of plain files, chosen by their name's extension, from a
// map in the form genisoimage's -map reads:
//   # comment
//   .tif   Raw   '8BIM'  'TIFF'  "Photoshop TIFF image"
//   *      Ascii 'ttxt'  'TEXT'  "everything else"
// (extension, translation, creator, type, comment). The translation is read
// and not applied: data forks are copied byte for byte.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace macfile {

struct type_creator {
  std::string type = "????";
  std::string creator = "????";
  bool operator==(const type_creator&) const = default;
};

struct type_map {
  struct row {
    std::string extension;  // ".txt"; compared without ASCII case
    type_creator code;
  };
  std::vector<row> rows;  // the first that ends the name wins
  type_creator fallback;  // the "*" row, else ????/????
};

// The built-in map of common kinds.
const type_map& default_type_map();

// Parses a map file's text. On a malformed line, returns false and sets
// ERROR to its number and what is wrong.
bool parse_type_map(std::string_view text, type_map& map, std::string& error);

type_creator look_up(const type_map& map, std::string_view file_name);

}  // namespace macfile
