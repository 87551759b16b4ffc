#pragma once

class QApplication;

// Program-wide look and language: the "ＭＳ ゴシック" 9 pt font (a Japanese gothic
// face here), Qt's own Japanese button texts, and the version information.
void SetUpApplication(QApplication& app);
