#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "dcs/bridge/src/console.hpp"

namespace {

using Handle = cli::ConsoleApi::Handle;

Handle handle(std::intptr_t value) { return reinterpret_cast<Handle>(value); }
const Handle kNull = nullptr;
const Handle kInvalid = handle(-1);
const Handle kFile = handle(0x100);
const Handle kPipe = handle(0x200);
const Handle kConsole = handle(0x300);

// Standard handles as a process sees them; attaching points both at the console, as Windows does.
class FakeConsole : public cli::ConsoleApi {
 public:
  FakeConsole(Handle out, Handle err, bool has_parent) : out_(out), err_(err), has_parent_(has_parent) {}
  Handle std_handle(base::StdStream stream) override { return stream == base::StdStream::Out ? out_ : err_; }
  bool attach_parent() override {
    ++attach_calls;
    if (!has_parent_) return false;
    out_ = err_ = kConsole;
    return true;
  }
  void set_std_handle(base::StdStream stream, Handle h) override {
    (stream == base::StdStream::Out ? out_ : err_) = h;
  }
  Handle out_, err_;
  int attach_calls = 0;

 private:
  bool has_parent_;
};

TEST(AttachParentConsole, OnlyTheMissingStreamsGoToTheConsole) {
  struct Case {
    std::string name;
    Handle out, err;
    bool has_parent;
    int attach_calls;
    Handle out_after, err_after;
  };
  const Case cases[] = {
      {"both redirected", kFile, kPipe, true, 0, kFile, kPipe},
      {"neither valid", kNull, kNull, true, 1, kConsole, kConsole},
      {"invalid values", kInvalid, kInvalid, true, 1, kConsole, kConsole},
      {"output redirected to a file", kFile, kNull, true, 1, kFile, kConsole},
      {"error redirected", kInvalid, kPipe, true, 1, kConsole, kPipe},
      {"no parent console", kFile, kNull, false, 1, kFile, kNull},
  };
  for (const Case& c : cases) {
    FakeConsole console(c.out, c.err, c.has_parent);
    cli::attach_parent_console(console);
    EXPECT_EQ(console.attach_calls, c.attach_calls) << c.name;
    EXPECT_EQ(console.out_, c.out_after) << c.name;
    EXPECT_EQ(console.err_, c.err_after) << c.name;
  }
}

}  // namespace
