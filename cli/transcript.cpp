#include "cli/transcript.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/whole_file.h"

namespace {

std::string escapeLineBreaks(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

CTranscript::~CTranscript() {
  close();
}

bool CTranscript::open(const std::string& path, std::string* why) {
  close();
  m_writeError = 0;
  m_file = path == "-" ? stdout : platform::openOutputFile(path, why);
  if (!m_file) return false;
  addStatusListObserver(this);
  ui::addMessageBoxObserver(this);
  return true;
}

void CTranscript::close() {
  if (!m_file) return;
  removeStatusListObserver(this);
  ui::removeMessageBoxObserver(this);
  if (m_file != stdout && std::fclose(m_file) != 0 && m_writeError == 0) m_writeError = errno;
  m_file = nullptr;
}

std::string CTranscript::writeError() const {
  return m_writeError == 0 ? std::string() : std::strerror(m_writeError);
}

void CTranscript::writeLine(const std::string& line) {
  // After the first failure (a full disk) the rest is dropped, so that the file ends at a
  // whole line; the failure is reported once, at the end of the run.
  if (!m_file || m_writeError != 0) return;
  // Line by line, so that the file tells how far a run got even if the program dies.
  if (std::fputs(line.c_str(), m_file) < 0 || std::fputc('\n', m_file) == EOF ||
      std::fflush(m_file) != 0) {
    m_writeError = errno;
  }
}

void CTranscript::statusLineAdded(int, const std::string& text) {
  writeLine("+ " + escapeLineBreaks(text));
}

void CTranscript::statusLineDeleted(int index) {
  writeLine("- " + std::to_string(index));
}

void CTranscript::statusListCleared() {
  writeLine("x");
}

void CTranscript::messageBoxShown(ui::MessageBoxKind kind, const std::string& text) {
  writeLine(std::string("! ") + ui::messageBoxKindName(kind) + " " + escapeLineBreaks(text));
}

void CTranscript::messageBoxAnswered(ui::MessageBoxKind kind, const std::string&,
                                     ui::MessageBoxAnswer answer) {
  if (kind != ui::MessageBoxKind::Question) return;
  writeLine(answer == ui::MessageBoxAnswer::No ? "> no" : "> yes");
}

std::vector<std::string> replayTranscript(const std::vector<std::string>& lines) {
  std::vector<std::string> list;
  for (const std::string& line : lines) {
    if (line.rfind("+ ", 0) == 0) {
      // The writer escaped each line break of a status line as a backslash and an n.
      std::string text;
      for (size_t i = 2; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == 'n') {
          text += '\n';
          ++i;
        } else {
          text += line[i];
        }
      }
      list.push_back(text);
    } else if (line == "x") {
      list.clear();
    } else if (line.rfind("- ", 0) == 0) {
      char* end = nullptr;
      const long index = std::strtol(line.c_str() + 2, &end, 10);
      if (end != line.c_str() + 2 && *end == '\0' && index >= 0 &&
          index < static_cast<long>(list.size())) {
        list.erase(list.begin() + index);
      }
    }
  }
  return list;
}
