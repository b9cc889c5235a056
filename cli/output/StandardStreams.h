#pragma once

#include <string>
#include <string_view>

namespace quorvex::cli {

enum class StandardStream { Out, Err };

// Writes all of `text` to stdout or stderr, unless that stream has failed before. A stream
// that cannot be written (a reader that went away, a full disk, a broken terminal) is given
// up for the rest of the program: the runs go on without it, and the program's exit code
// stays theirs. Safe from several threads.
void WriteStandard(StandardStream stream, std::string_view text);
// The program's own usage errors: on stderr as "quorvex-cli: TEXT", with --json too.
void Error(const std::string& text);
// False once a write to the stream has failed.
bool StandardStreamWorks(StandardStream stream);

// The platform's part: writes all of `text` to the stream, a short write continued. false
// with *error set when it cannot; *readerGone when the reader closed its end of a pipe.
bool WriteAllToStandard(StandardStream stream, std::string_view text, std::string* error,
                        bool* readerGone);

}  // namespace quorvex::cli
