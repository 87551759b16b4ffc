#pragma once

#include <optional>

class QApplication;

// Program-wide look and language: the "ＭＳ ゴシック" 9 pt font (a Japanese gothic
// face here), Qt's own Japanese button texts, and the version information.
void SetUpApplication(QApplication& app);

// The only options the program answers: --help and --version print and end
// the program (exit status 0) before any window system is needed. Anything else
// on the command line is left alone. Returns the exit status when it answered.
std::optional<int> AnswerCommandLine(int argc, char** argv);
