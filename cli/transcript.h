// The transcript of a run (--transcript FILE): every change of the status list and every
// message box, one line each, in the order they happen:
//   + TEXT           a status line appended
//   - N              status line N (counted from 0) deleted
//   x                the status list emptied
//   ! KIND TEXT      a message box; KIND is stop, info or question
//   > yes | > no     the answer to a question box
// A line break inside TEXT is written as the two characters \n. Replaying the +, - and x
// lines gives the status list as the window shows it.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "run/run_state.h"
#include "ui/message_box.h"

class CTranscript : public StatusListObserver, public ui::MessageBoxObserver {
 public:
  CTranscript() = default;
  ~CTranscript() override;
  CTranscript(const CTranscript&) = delete;
  CTranscript& operator=(const CTranscript&) = delete;

  // Creates (or empties) the file and starts observing; "-" is standard output. False,
  // with `why` when given, when the file cannot be opened for writing (a FIFO without a
  // reader included); nothing is observed then.
  bool open(const std::string& path, std::string* why = nullptr);
  // Stops observing and closes the file.
  void close();
  // Why a line could not be written (also after close); empty while all went out.
  std::string writeError() const;

  void statusLineAdded(int index, const std::string& text) override;
  void statusLineDeleted(int index) override;
  void statusListCleared() override;
  void messageBoxShown(ui::MessageBoxKind kind, const std::string& text) override;
  void messageBoxAnswered(ui::MessageBoxKind kind, const std::string& text,
                          ui::MessageBoxAnswer answer) override;

 private:
  void writeLine(const std::string& line);

  std::FILE* m_file = nullptr;
  int m_writeError = 0;
};

// The status list that the +, - and x lines of a transcript leave (other lines are skipped),
// with the line breaks that the writer escaped as "\\n" restored.
std::vector<std::string> replayTranscript(const std::vector<std::string>& lines);
