#pragma once

#include <QImage>
#include <QString>

namespace qv::test {

class HeadlessCompositor;

// Whether KWin offers its screenshot interface (its effect needs compositing), once it is up.
bool kwinTakesScreenshots(const HeadlessCompositor& compositor);

// The screen as KWin shows it, every output, through KWin's own screenshot interface (KWin has
// no screencopy for grim); null where it gave none.
QImage kwinScreenshot(const HeadlessCompositor& compositor);

// Runs a script in KWin and gives the rest of the first line it prints that starts with the
// answer's word; empty when it printed none within the time.
QString runKWinScript(HeadlessCompositor& compositor, const QString& source, const QString& answer,
                      int milliseconds = 20000);

// Where the windows' area begins below the bars' exclusive zones at the top; -1 unknown.
int kwinWorkAreaTop(HeadlessCompositor& compositor);

} // namespace qv::test
