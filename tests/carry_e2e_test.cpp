// The program keeps what a photo carries through every edit, and opens the
// BMPs that the common tools write.
#include <FreeImage.h>
#include <gtest/gtest.h>

#include <string>

#include "tests/icc_profiles.h"
#include "tests/program_harness.h"
#include "tools/test_images.h"

namespace {

class Carried : public ProgramHarness {
 protected:
  void MakeProfiledImage(const std::string &name, int bpp,
                         const std::string &profile, bool cmyk = false) {
    FIBITMAP *scene = MakeSceneImage(48, 32, bpp);
    if (cmyk) FreeImage_GetICCProfile(scene)->flags |= FIICC_COLOR_IS_CMYK;
    FreeImage_CreateICCProfile(scene, (void *)profile.data(),
                               (long)profile.size());
    FREE_IMAGE_FORMAT format = FreeImage_GetFIFFromFilename(name.c_str());
    ASSERT_TRUE(FreeImage_Save(format, scene, Work(name).c_str(),
                               format == FIF_JPEG ? 90 : 0));
    FreeImage_Unload(scene);
  }

  // The profile in a written file: the library reads a JPEG's; a PNG's
  // iCCP chunk holds it deflated, so there it is looked for.
  bool HasProfile(const std::string &name) {
    if (name.find(".png") != std::string::npos)
      return ReadWholeFile(Work(name)).find("iCCP") != std::string::npos;
    FIBITMAP *loaded = LoadWork(name);
    bool has = loaded != nullptr && FreeImage_GetICCProfile(loaded)->size > 0;
    FreeImage_Unload(loaded);
    return has;
  }
};

TEST_F(Carried, AProfileSurvivesEveryEditIntoEveryFormat) {
  std::string profile = MinimalIccProfile("RGB ");
  MakeProfiledImage("adobe.jpg", 24, profile);
  MakeProfiledImage("adobe.png", 24, profile);
  const Texts kEdits[] = {{"-r", "90"}, {"-w", "20"}, {"-h", "10"},
                          {"-wh", "20", "20"}, {"-fh"}, {"-fv"},
                          {"-c", "2", "2", "20", "10"}, {"-r", "30"}};
  for (const char *input : {"adobe.jpg", "adobe.png"}) {
    for (const char *output : {"out.jpg", "out.png"}) {
      for (Texts args : kEdits) {
        SCOPED_TRACE(testing::Message() << input << " " << args[0] << " -> "
                                        << output);
        args.insert(args.end(), {"-o", output, input});
        Result r = Orvane(args);
        ASSERT_EQ(0, r.status) << r.err;
        EXPECT_TRUE(HasProfile(output));
      }
    }
  }
  FIBITMAP *turned = nullptr;
  ASSERT_EQ(0, Orvane({"-r", "90", "-w", "20", "-o", "out.jpg", "adobe.png"})
                   .status);
  turned = LoadWork("out.jpg");
  FIICCPROFILE *kept = FreeImage_GetICCProfile(turned);
  EXPECT_EQ(profile, std::string((const char *)kept->data, kept->size));
  FreeImage_Unload(turned);
}

// Images the JPEG writer can't take are converted for it (alpha onto white,
// 16 bits to 8); the conversion made a bitmap without the profile.
TEST_F(Carried, AProfileSurvivesTheConversionsForJpeg) {
  MakeProfiledImage("rgba.png", 32, MinimalIccProfile("RGB "));
  for (const Texts &edit : {Texts{"-fh"}, Texts{"-w", "20"}}) {
    Texts args = edit;
    args.insert(args.end(), {"-o", "out.jpg", "rgba.png"});
    Result r = Orvane(args);
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_TRUE(HasProfile("out.jpg")) << edit[0];
  }
}

// Written with the RGB pixels the library makes of it, the CMYK profile
// made an invalid JPEG, and a PNG that libpng refused to write at all.
TEST_F(Carried, ACmykPhotoGoesOutWithoutItsCmykProfile) {
  MakeProfiledImage("cmyk.jpg", 32, MinimalIccProfile("CMYK"), true);
  for (const char *output : {"out.jpg", "out.png"}) {
    Result r = Orvane({"-fh", "-o", output, "cmyk.jpg"});
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_FALSE(HasProfile(output)) << output;
    EXPECT_EQ(std::make_pair(48u, 32u), SizeOf(output));
  }
}

// ImageMagick's, GIMP's and libvips' BMPs carry a V5 info header of 124
// bytes: the same picture as the library's own BMP, 84 more header bytes.
TEST_F(Carried, ABmpWithAV5HeaderOpens) {
  MakeImage("plain.bmp", 48, 32);
  std::string bmp = ReadWholeFile(Work("plain.bmp"));
  std::string v5 = bmp.substr(0, 54) + std::string(84, '\0') + bmp.substr(54);
  v5[14] = (char)124;
  v5[10] = (char)(54 + 84);
  WriteWholeFile(Work("v5.bmp"), v5);
  Result r = Orvane({"-o", "out.png", "v5.bmp"});
  ASSERT_EQ(0, r.status) << r.err;
  FIBITMAP *expected = LoadWork("plain.bmp");
  EXPECT_EQ(LibrarySaves(expected, FIF_PNG, 100),  // quality 100: its flags
            ReadWholeFile(Work("out.png")));
  FreeImage_Unload(expected);
}

}  // namespace
