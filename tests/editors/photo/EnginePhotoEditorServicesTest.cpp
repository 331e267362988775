#include "editors/photo/EnginePhotoEditorServices.h"
#include "editors/photo/PhotoEditorModel.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QUrl>

using namespace qv;

TEST(EnginePhotoEditorServices, AFillGoesBehindTheCutoutAndTurnsShowInTheDisplay)
{
    auto services = std::make_shared<EnginePhotoEditorServices>();
    QImage clear(40, 30, QImage::Format_ARGB32);
    clear.fill(Qt::transparent);
    std::optional<QImage> rendered;
    services->render(clear, PhotoAdjustments::neutral(), QStringLiteral("#00FF00"), [&](QImage image) { rendered = image; });
    ASSERT_TRUE(test::waitFor([&] { return rendered.has_value(); }));
    EXPECT_EQ(rendered->pixelColor(5, 5), QColor(Qt::green));

    FileInfo file;
    file.url = QUrl::fromLocalFile(QStringLiteral("/pictures/photo.png"));
    file.name = QStringLiteral("photo.png");
    PhotoEditorModel model(file, clear, QSize(400, 300), true, SettingsSnapshot(), std::nullopt, services);
    EXPECT_EQ(model.effectiveFormat(), ImageOutput::png);
    model.rotateQuarter(false);
    EXPECT_EQ(model.display().size(), QSize(30, 40));
    EXPECT_EQ(model.recipe().rotation, 270);
}
