#pragma once

#include <string>
#include <string_view>

namespace quorvex {

// The application's title: the caption of every plain message and of the error display.
inline constexpr const char* kApplicationTitle = "Quorvex";

// Message box flags and answers, with the values the platform's message box uses.
inline constexpr unsigned kMbOk = 0x00;
inline constexpr unsigned kMbYesNo = 0x04;
inline constexpr unsigned kMbIconError = 0x10;
inline constexpr int kIdOk = 1;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

// Everything the device code needs of whoever operates it: the window, the terminal, or a
// test's recorder. All texts are UTF-8.
class Operator {
 public:
  virtual ~Operator() = default;
  virtual void Log(std::string_view line) = 0;  // one line appended to the log
  virtual int MessageBox(std::string_view text, std::string_view caption, unsigned flags) = 0;
  virtual void PlainMessage(std::string_view text) = 0;  // caption "Quorvex", no icon, OK
  virtual void SetProgress(int position) = 0;            // 0..100
  virtual void ProcessMessages() = 0;                    // once after each image block
  virtual std::string SectorText() = 0;                  // the sector field's text right now
  virtual void Beep() = 0;
  // Asked before each request a run sends and between the sectors of a listing: true when
  // the operator has asked every run to stop (Ctrl-C, or the window closed during a run).
  // The Cancel button is not asked here: it acts on the image transfer, after each block.
  virtual bool StopAsked() { return false; }
  // The listing has read one sector and logged its line: the sector's number, whether a
  // program is loaded in it and, when one is, its name (UTF-8). For an operator that reports
  // the listing in a form of its own; the log line stays what people read.
  virtual void SectorListed(int /*sector*/, bool /*loaded*/, const std::string& /*name*/) {}
};

// The application's standard display of an error that escaped a command: the text, a full
// stop when its last character sorts after one, the caption "Quorvex" and the error icon.
void ShowException(Operator& op, std::string_view text);

}  // namespace quorvex
