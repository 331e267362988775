#include "engines/media/arguments/MediaFilters.h"

#include <gtest/gtest.h>

using namespace qv;

TEST(MediaFilters, RotateAndFlip)
{
    EXPECT_EQ(rotateFlipFilter(0, false, false), "null");
    EXPECT_EQ(rotateFlipFilter(360, false, false), "null");
    EXPECT_EQ(rotateFlipFilter(45, false, false), "null");
    EXPECT_EQ(rotateFlipFilter(90, false, false), "transpose=1");
    EXPECT_EQ(rotateFlipFilter(-270, false, false), "transpose=1");
    EXPECT_EQ(rotateFlipFilter(270, false, false), "transpose=2");
    EXPECT_EQ(rotateFlipFilter(-90, false, false), "transpose=2");
    EXPECT_EQ(rotateFlipFilter(180, false, false), "hflip,vflip");
    EXPECT_EQ(rotateFlipFilter(180, true, true), "hflip,vflip,hflip,vflip");
    EXPECT_EQ(rotateFlipFilter(0, true, false), "hflip");
    EXPECT_EQ(rotateFlipFilter(450, false, true), "transpose=1,vflip");
}

TEST(MediaFilters, Crop)
{
    EXPECT_EQ(cropFilter(QRectF(10, 20, 1280, 720)), "crop=1280:720:10:20");
    EXPECT_EQ(cropFilter(QRectF(10.9, 20.7, 1281.9, 721.2)), "crop=1280:720:10:20");
    EXPECT_EQ(cropFilter(QRectF(0, 0, 1, 3)), "crop=0:2:0:0");
}

TEST(MediaFilters, Numbers)
{
    EXPECT_EQ(ffmpegNumber(1.5), "1.5");
    EXPECT_EQ(ffmpegNumber(2.0), "2");
    EXPECT_EQ(ffmpegNumber(0.3333333), "0.3333");
    EXPECT_EQ(ffmpegNumber(0), "0");
    EXPECT_EQ(ffmpegNumber(10), "10");
    EXPECT_EQ(ffmpegNumber(0.00004), "0");
    EXPECT_EQ(ffmpegNumber(12.30005), "12.3001");
}

TEST(MediaFilters, Tempo)
{
    EXPECT_EQ(atempoChain(4), "atempo=2.0,atempo=2");
    EXPECT_EQ(atempoChain(3), "atempo=2.0,atempo=1.5");
    EXPECT_EQ(atempoChain(0.25), "atempo=0.5,atempo=0.5");
    EXPECT_EQ(atempoChain(2), "atempo=2");
    EXPECT_EQ(atempoChain(0.5), "atempo=0.5");
    EXPECT_EQ(atempoChain(1), "atempo=1");
    EXPECT_EQ(atempoChain(0.3), "atempo=0.5,atempo=0.6");
}

TEST(MediaFilters, LoudnessAndFades)
{
    EXPECT_EQ(loudnormFilter(std::nullopt), (LoudnessFilter{"loudnorm=I=-16:TP=-1.5:LRA=11", {"-ar", "48000"}}));
    EXPECT_EQ(loudnormFilter(44100), (LoudnessFilter{"loudnorm=I=-16:TP=-1.5:LRA=11", {"-ar", "44100"}}));

    EXPECT_EQ(fadeFilter(10, 0, 0), "anull");
    EXPECT_EQ(fadeFilter(10, 1.5, 0), "afade=t=in:st=0:d=1.5");
    EXPECT_EQ(fadeFilter(10, 0, 2), "afade=t=out:st=8:d=2");
    EXPECT_EQ(fadeFilter(10, 1, 2.25), "afade=t=in:st=0:d=1,afade=t=out:st=7.75:d=2.25");
    EXPECT_EQ(fadeFilter(1, 0, 3), "afade=t=out:st=0:d=3");
    // An unknown length fades in only.
    EXPECT_EQ(fadeFilter(0, 2, 3), "afade=t=in:st=0:d=2");
}
