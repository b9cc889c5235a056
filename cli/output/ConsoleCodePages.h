#pragma once

namespace quorvex::cli {

// The console shows what the program writes as UTF-8 while the program runs, and its input and
// output code pages are put back as they were once it ends, whichever way it ends: a return
// from main, exit(), or the process ended by a console control event (Ctrl-C, Ctrl-Break, the
// console closed). The console is the user's; the next program in it expects its own pages.
// Windows only; one object, made first thing in main.
class ConsoleCodePages {
 public:
  ConsoleCodePages();
  ~ConsoleCodePages();
  ConsoleCodePages(const ConsoleCodePages&) = delete;
  ConsoleCodePages& operator=(const ConsoleCodePages&) = delete;
};

}  // namespace quorvex::cli
