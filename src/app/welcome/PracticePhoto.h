#pragma once

#include <QImage>
#include <QString>

#include <optional>

namespace qv {

// The picture the onboarding window offers to practise the gesture on, kept in a folder of
// its own so that the copies a conversion writes beside it stay out of the user's way.
class PracticePhoto {
public:
    // $XDG_DATA_HOME/quorvenda/Practice (not created here).
    static QString defaultFolder();
    static QString fileName() { return QStringLiteral("Practice Photo.heic"); }

    // The picture itself: 1200 x 800, a dusk sky, a sun and three hills.
    static QImage paint();

    // The photo's path in the folder, painted and written first when no file has that name.
    // An existing file is used as it is, whatever it holds; a new one is written under a
    // temporary name and moved in without replacing anything, so the photo is whole or
    // absent. Nothing when the folder or the file cannot be made. Slow: call it off the GUI
    // thread.
    static std::optional<QString> make(const QString& folder);

    static constexpr int quality = 85;
};

} // namespace qv
