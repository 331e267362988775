#include "model/operations/AspectPreset.h"
#include "model/operations/OperationOptions.h"
#include "model/operations/OptionField.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace qv;

namespace {

std::optional<OperationOptions> decode(const char* json, QString* error = nullptr)
{
    return decodeOperationOptions(QByteArray(json), error);
}

QByteArray encoded(const OperationOptions& options)
{
    const auto bytes = encodeOperationOptions(options);
    EXPECT_TRUE(bytes.has_value());
    return bytes.value_or(QByteArray());
}

OperationOptions everyValueSet()
{
    OperationOptions o;
    o.quality = 0.73;
    o.maxDimension = 2048;
    o.exactSize = QSizeF(640.5, 480);
    o.resizeScale = 0.5;
    o.lossless = true;
    o.alphaBackground = QStringLiteral("#FF8800");
    o.videoPreset = QualityPreset::high;
    o.videoCodec = VideoCodecChoice::hevc;
    o.maxResolution = 1080;
    o.audioBitrate = 192;
    o.sampleRate = 44100;
    o.pdfCompression = PDFCompressionLevel::low;
    o.dpi = 144.5;
    o.pageSize = PageSizeChoice::letter;
    o.pageRanges = QList<PageRange>{{1, 3}, {5, 5}};
    o.split = SplitMode::at({1.5, 30, 61.25});
    o.password = QStringLiteral("s3cret \"quoted\"");
    o.rotation = -90;
    o.flipHorizontal = true;
    o.flipVertical = false;
    o.cropRect = QRectF(10.25, 20, 300, 150.5);
    o.trimStart = 1.5;
    o.trimEnd = 12.75;
    o.fastTrim = true;
    o.speed = 1.25;
    o.fadeIn = 0.5;
    o.fadeOut = 2;
    o.subtitleShiftMilliseconds = -1500;
    o.snapshotTime = 3.125;
    o.pageOrder = QList<int>{2, 0, 1};
    o.redactions = QMap<int, QList<QRectF>>{{0, {QRectF(1, 2, 3, 4)}}, {12, {QRectF(5, 6, 7, 8)}}};
    o.backgroundColor = QStringLiteral("blur");
    o.mergeLayout = MergeLayout::vertical;
    o.fileOrder = QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/tmp/b c.png")),
                              QUrl::fromLocalFile(QStringLiteral("/tmp/ä.png"))};
    o.photo = PhotoAdjustments{0.5, 1.1, 0.9, -0.2, 0.3};
    o.removeBackground = true;
    o.outputFormat = QStringLiteral("webp");
    o.stripMetadata = true;
    Annotation arrow{Annotation::Kind::arrow, {QPointF(1, 2), QPointF(30.5, 40)},
                     QStringLiteral("#FF0000"), 3.5, std::nullopt, std::nullopt};
    Annotation label{Annotation::Kind::text, {QPointF(5, 5)}, QStringLiteral("#000000"), 1,
                     QStringLiteral("Hello"), 18.0};
    o.annotations = QList<Annotation>{arrow, label};
    o.allSheets = true;
    o.shellEscapedPaths = false;
    return o;
}

} // namespace

TEST(OperationOptionsTest, EmptyOptionsAreAnEmptyObject)
{
    EXPECT_EQ(encoded(OperationOptions{}), QByteArray("{}"));
    const auto decoded = decode("{}");
    ASSERT_TRUE(decoded);
    EXPECT_TRUE(decoded->isEmpty());
}

TEST(OperationOptionsTest, EveryValueRoundTripsUnderItsOwnKey)
{
    const OperationOptions options = everyValueSet();
    const QByteArray json = encoded(options);
    EXPECT_FALSE(json.contains('\n'));

    // Every one of the 41 values is written, so none can be lost on the way back.
    const QJsonObject object = QJsonDocument::fromJson(json).object();
    EXPECT_EQ(object.size(), 41);
    EXPECT_EQ(object.value(QStringLiteral("videoCodec")).toString(), QStringLiteral("hevc"));
    EXPECT_EQ(object.value(QStringLiteral("mergeLayout")).toString(), QStringLiteral("vertical"));

    const auto decoded = decodeOperationOptions(json);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(*decoded, options);

    OperationOptions other = options;
    other.photo->sharpness = 0.31;
    EXPECT_NE(other, options);
}

TEST(OperationOptionsTest, FixedForms)
{
    OperationOptions o;
    o.exactSize = QSizeF(100, 50);
    o.cropRect = QRectF(1, 2, 3, 4);
    o.pageRanges = QList<PageRange>{{1, 3}};
    o.pageOrder = QList<int>{1, 0};
    o.fileOrder = QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/tmp/a b.png"))};
    o.pdfCompression = PDFCompressionLevel::medium;
    o.pageSize = PageSizeChoice::a4;
    const QJsonObject object = QJsonDocument::fromJson(encoded(o)).object();
    auto compact = [&](const char* key) {
        return QJsonDocument::fromJson("[" + QJsonDocument(QJsonObject{{key, object.value(key)}})
                                                 .toJson(QJsonDocument::Compact)
                                           + "]")
            .toJson(QJsonDocument::Compact);
    };
    EXPECT_EQ(compact("exactSize"), QByteArray(R"([{"exactSize":[100,50]}])"));
    EXPECT_EQ(compact("cropRect"), QByteArray(R"([{"cropRect":[[1,2],[3,4]]}])"));
    EXPECT_EQ(compact("pageRanges"), QByteArray(R"([{"pageRanges":[[1,3]]}])"));
    EXPECT_EQ(compact("pageOrder"), QByteArray(R"([{"pageOrder":[1,0]}])"));
    EXPECT_EQ(compact("fileOrder"), QByteArray(R"([{"fileOrder":["file:///tmp/a%20b.png"]}])"));
    EXPECT_EQ(compact("pdfCompression"), QByteArray(R"([{"pdfCompression":"medium"}])"));
    EXPECT_EQ(compact("pageSize"), QByteArray(R"([{"pageSize":"a4"}])"));

    OperationOptions boxes;
    boxes.redactions = QMap<int, QList<QRectF>>{{0, {QRectF(1, 2, 3, 4), QRectF(5, 6, 7, 8)}}};
    EXPECT_EQ(encoded(boxes), QByteArray(R"({"redactions":{"0":[[[1,2],[3,4]],[[5,6],[7,8]]]}})"));

    OperationOptions drawing;
    drawing.annotations = QList<Annotation>{
        {Annotation::Kind::pen, {QPointF(1, 2)}, QStringLiteral("#112233"), 2, {}, {}}};
    EXPECT_EQ(encoded(drawing),
              QByteArray(R"({"annotations":[{"colorHex":"#112233","kind":"pen","lineWidth":2,)"
                         R"("points":[[1,2]]}]})"));
}

TEST(OperationOptionsTest, UnknownAndNullKeys)
{
    const auto extra = decode(R"({"quality":0.5,"colourProfile":"sRGB","rotation":null})");
    ASSERT_TRUE(extra);
    EXPECT_EQ(extra->quality, 0.5);
    EXPECT_FALSE(extra->rotation);
    OperationOptions expected;
    expected.quality = 0.5;
    EXPECT_EQ(*extra, expected);

    // Null in an annotation's optional keys is absent too.
    const auto note = decode(
        R"({"annotations":[{"kind":"text","points":[],"colorHex":"#000","lineWidth":1,"text":null}]})");
    ASSERT_TRUE(note);
    EXPECT_FALSE(note->annotations->first().text);
}

TEST(OperationOptionsTest, WrongFormsFailTheWholeDecode)
{
    const char* bad[] = {
        R"({"videoPreset":"ultra"})",
        R"({"quality":"high","rotation":90})",
        R"({"maxDimension":12.5})",
        R"({"maxDimension":1e12})",
        R"({"lossless":1})",
        R"({"exactSize":[1,2,3]})",
        R"({"cropRect":[1,2,3,4]})",
        R"({"pageRanges":[[5,2]]})",
        R"({"redactions":{"first":[]}})",
        R"({"redactions":[]})",
        R"({"fileOrder":[""]})",
        R"({"photo":{"exposure":0,"contrast":1,"saturation":1,"warmth":0}})",
        R"({"photo":{"exposure":0,"contrast":1,"saturation":1,"warmth":0,"sharpness":null}})",
        R"({"annotations":[{"kind":"pen","points":[],"colorHex":"#000"}]})",
        R"({"annotations":[{"kind":"star","points":[],"colorHex":"#000","lineWidth":1}]})",
        "[]",
        "not json",
        "",
    };
    for (const char* json : bad) {
        QString error;
        EXPECT_FALSE(decode(json, &error)) << json;
        EXPECT_FALSE(error.isEmpty()) << json;
        EXPECT_TRUE(error.endsWith(QLatin1Char('.'))) << error.toStdString();
    }

    QString error;
    decode(R"({"photo":{"exposure":0,"contrast":1,"saturation":1,"warmth":0}})", &error);
    EXPECT_TRUE(error.contains(QStringLiteral("photo.sharpness"))) << error.toStdString();

    const auto ranges = decode(R"({"pageRanges":[[2,2],[3,9]],"redactions":{"-1":[],"07":[]}})");
    ASSERT_TRUE(ranges);
    EXPECT_EQ(ranges->pageRanges, (QList<PageRange>{{2, 2}, {3, 9}}));
    EXPECT_EQ(ranges->redactions->keys(), (QList<int>{-1, 7}));
}

TEST(OperationOptionsTest, SplitModes)
{
    auto splitOf = [](const SplitMode& mode) {
        OperationOptions o;
        o.split = mode;
        return encoded(o);
    };
    EXPECT_EQ(splitOf(SplitMode::every(30)), QByteArray(R"({"split":{"every":{"seconds":30}}})"));
    EXPECT_EQ(splitOf(SplitMode::parts(3)), QByteArray(R"({"split":{"parts":{"_0":3}}})"));
    EXPECT_EQ(splitOf(SplitMode::everyPage()), QByteArray(R"({"split":{"everyPage":{}}})"));
    EXPECT_EQ(splitOf(SplitMode::everyNPages(4)),
              QByteArray(R"({"split":{"everyNPages":{"_0":4}}})"));
    EXPECT_EQ(splitOf(SplitMode::ranges({{1, 2}, {4, 7}})),
              QByteArray(R"({"split":{"ranges":{"_0":[[1,2],[4,7]]}}})"));
    EXPECT_EQ(splitOf(SplitMode::at({2.5, 10})), QByteArray(R"({"split":{"at":{"_0":[2.5,10]}}})"));

    for (const SplitMode& mode :
         {SplitMode::everyPage(), SplitMode::everyNPages(2), SplitMode::ranges({{3, 3}}),
          SplitMode::parts(5), SplitMode::every(12.5), SplitMode::at({}), SplitMode::at({0.5})}) {
        const auto back = decodeOperationOptions(splitOf(mode));
        ASSERT_TRUE(back);
        EXPECT_EQ(back->split, mode) << toString(mode.kind()).toStdString();
    }
    EXPECT_NE(SplitMode::everyNPages(2), SplitMode::parts(2));
    EXPECT_NE(SplitMode::every(30), SplitMode::every(30.0001));

    const auto withNote = decode(R"({"split":{"parts":{"_0":2},"note":1}})");
    ASSERT_TRUE(withNote);
    EXPECT_EQ(withNote->split, SplitMode::parts(2));
    const auto payloadExtra = decode(R"({"split":{"every":{"seconds":4,"_0":9}}})");
    ASSERT_TRUE(payloadExtra);
    EXPECT_EQ(payloadExtra->split, SplitMode::every(4));

    QString error;
    EXPECT_FALSE(decode(R"({"split":{"everyPage":{},"parts":{"_0":2}}})", &error));
    EXPECT_EQ(error.toStdString(), "Invalid number of keys found, expected one.");
    error.clear();
    EXPECT_FALSE(decode(R"({"split":{}})", &error));
    EXPECT_EQ(error.toStdString(), "Invalid number of keys found, expected one.");
    EXPECT_FALSE(decode(R"({"split":{"note":1}})"));

    const char* bad[] = {
        R"({"split":{"everyPage":true}})",
        R"({"split":{"everyPage":null}})",
        R"({"split":{"parts":{}}})",
        R"({"split":{"parts":{"_0":2.5}}})",
        R"({"split":{"every":{"_0":30}}})",
        R"({"split":{"ranges":{"_0":[[3,1]]}}})",
        R"({"split":{"at":{"_0":["1"]}}})",
        R"({"split":"parts"})",
    };
    for (const char* json : bad)
        EXPECT_FALSE(decode(json)) << json;
}

TEST(OperationOptionsTest, NumbersJsonCannotHoldStoreNothing)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    OperationOptions a;
    a.quality = nan;
    OperationOptions b;
    b.split = SplitMode::every(inf);
    OperationOptions c;
    c.photo = PhotoAdjustments{0, 1, 1, nan, 0};
    OperationOptions d;
    d.annotations = QList<Annotation>{
        {Annotation::Kind::pen, {QPointF(0, -inf)}, QStringLiteral("#000"), 1, {}, {}}};
    OperationOptions e;
    e.redactions = QMap<int, QList<QRectF>>{{1, {QRectF(0, 0, inf, 1)}}};
    for (const OperationOptions& o : {a, b, c, d, e})
        EXPECT_FALSE(encodeOperationOptions(o));
}

TEST(OperationOptionsTest, PerFileValuesAreNotRemembered)
{
    const OperationOptions all = everyValueSet();
    const OperationOptions kept = all.withoutPerFileValues();
    const QJsonObject object = QJsonDocument::fromJson(encoded(kept)).object();
    EXPECT_EQ(object.size(), 41 - 9);
    for (const char* key : {"password", "cropRect", "trimStart", "trimEnd", "snapshotTime",
                            "pageOrder", "redactions", "fileOrder", "annotations"})
        EXPECT_FALSE(object.contains(QLatin1String(key))) << key;

    OperationOptions sheet;
    sheet.password = QStringLiteral("pw");
    sheet.cropRect = QRectF(0, 0, 10, 10);
    sheet.quality = 0.6;
    sheet.rotation = 270;
    const auto loaded = decodeOperationOptions(encoded(sheet.withoutPerFileValues()));
    ASSERT_TRUE(loaded);
    EXPECT_FALSE(loaded->password);
    EXPECT_FALSE(loaded->cropRect);
    EXPECT_EQ(loaded->quality, 0.6);
    EXPECT_EQ(loaded->rotation, 270);

    EXPECT_EQ(rememberedOptionsKey(QStringLiteral("tool.audio.ringtone")),
              QStringLiteral("quorvenda.options.tool.audio.ringtone"));
}

TEST(OperationOptionsTest, NestedValues)
{
    EXPECT_TRUE(PhotoAdjustments{}.isNeutral());
    EXPECT_EQ(PhotoAdjustments::neutral(), (PhotoAdjustments{0, 1, 1, 0, 0}));
    EXPECT_FALSE((PhotoAdjustments{0, 1, 1, 0, 0.1}).isNeutral());

    EXPECT_EQ(optionFieldFromString(QStringLiteral("imageQuality")), OptionField::imageQuality);
    EXPECT_FALSE(optionFieldFromString(QStringLiteral("quality")));
    EXPECT_EQ(optionFieldFromString(QStringLiteral("approximateLayoutNote")),
              OptionField::approximateLayoutNote);
    EXPECT_EQ(allCases<OptionField>().size(), 31);
    EXPECT_EQ(toString(OptionField::mergeOrder), QStringLiteral("mergeOrder"));
    EXPECT_EQ(optionFieldNote(OptionField::ringtoneLength),
              QStringLiteral("Ringtones can be at most 40 seconds long."));
    EXPECT_FALSE(optionFieldNote(OptionField::dpi));

    QStringList labels;
    for (AspectPreset preset : allCases<AspectPreset>())
        labels << label(preset);
    EXPECT_EQ(labels, (QStringList{"Free", "Original", "1:1", "4:5", "9:16", "16:9", "4:3"}));
    EXPECT_EQ(aspectPresetFromLabel(QStringLiteral("9:16")), AspectPreset::story);
    EXPECT_FALSE(aspectPresetFromLabel(QStringLiteral("story")));
    EXPECT_FALSE(ratio(AspectPreset::original));
    EXPECT_DOUBLE_EQ(*ratio(AspectPreset::wide), 16.0 / 9.0);
    EXPECT_DOUBLE_EQ(*ratio(AspectPreset::portrait), 0.8);

    EXPECT_EQ(toString(Annotation::Kind::highlight), QStringLiteral("highlight"));
    EXPECT_EQ(toString(MergeLayout::horizontal), QStringLiteral("horizontal"));
}
