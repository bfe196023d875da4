// The built-in files are the data files of the tree, byte for byte.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "dcs/install/src/embedded.hpp"

namespace embedded {
namespace {

std::string data_file(std::string relative) {
  for (char& c : relative)
    if (c == '\\') c = '/';
  std::ifstream in(std::string(TOLVARO_INSTALL_DATA_DIR) + "/" + relative, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

TEST(EmbeddedData, EveryFileIsItsDataFile) {
  for (const EmbeddedFile* file : {&COLLECTOR_FILE, &BANDIT_TOOL_FILE, &MAP_MARKER_FILES[0], &MAP_MARKER_FILES[1],
                                   &MAP_MARKER_FILES[2], &MAP_MARKER_FILES[3]}) {
    const std::string expected = data_file(std::string(file->relative_path));
    ASSERT_FALSE(expected.empty()) << file->relative_path;
    EXPECT_TRUE(file->contents == expected) << file->relative_path;
  }
}

}  // namespace
}  // namespace embedded
