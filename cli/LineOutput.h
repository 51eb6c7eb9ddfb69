// Standard output shared by several jobs: complete lines, each printed once, and on a terminal a
// block of live status lines (one per port) kept below them and redrawn as they change.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

class TLineOutput {
 public:
  TLineOutput(std::FILE* out, bool terminal) : out_(out), terminal_(terminal) {}
  ~TLineOutput() { ClearStatus(); }

  bool Terminal() const { return terminal_; }
  // A complete line, above the status block.
  void Line(const std::string& line);
  // A complete line on another stream (standard error) that shares the terminal.
  void LineTo(std::FILE* stream, const std::string& line);
  // The status block's lines (only drawn on a terminal).
  void Status(const std::vector<std::string>& lines);
  // Removes the status block (before the summary).
  void ClearStatus();

 private:
  void Erase();
  void Draw();

  std::mutex lock_;
  std::FILE* out_;
  bool terminal_;
  std::vector<std::string> status_;
  std::size_t drawn_ = 0;  // status lines on the screen
};
