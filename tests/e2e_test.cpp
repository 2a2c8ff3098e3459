// Runs the built program as a user would and checks what it says, its exit
// status, and every file it writes or must leave alone.
#include <FreeImage.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "app/options.h"
#include "tests/exif_blocks.h"
#include "tests/icc_profiles.h"
#include "tests/program_harness.h"
#include "tools/test_images.h"

namespace {

typedef ProgramHarness EndToEnd;

TEST_F(EndToEnd, UsageForNoArgumentsAndSpecialCommands) {
  ExpectUsage(Orvane({}), 1);
  ExpectUsage(Orvane({"-?"}), 0);
  Result version = Orvane({"-Ver"});
  EXPECT_EQ(0, version.status);
  EXPECT_TRUE(std::regex_match(
      version.out,
      std::regex("Orvane Ver 1\\.12\n.*Tabrinel.*\n\nBuild date:\t\\w{3} [ "
                 "\\d]\\d \\d{4}\nBuild time:\t\\d\\d:\\d\\d:\\d\\d\n")))
      << version.out;
  EXPECT_EQ(Texts{}, WorkNames());
}

TEST_F(EndToEnd, UnixSpellingsAloneAnswerLikeTheirShortForms) {
  Result usage = Orvane({"-?"});
  Result version = Orvane({"-ver"});
  Result long_usage = Orvane({"--help"});
  EXPECT_EQ(0, long_usage.status);
  EXPECT_EQ(usage.out, long_usage.out);
  Result long_version = Orvane({"--version"});
  EXPECT_EQ(0, long_version.status);
  EXPECT_EQ(version.out, long_version.out);
  EXPECT_EQ(version.out, Orvane({"-dbg=0", "--version"}).out);
  EXPECT_EQ(usage.out, Orvane({"--help", "-DBG=0"}).out);

  // Anywhere else they are what they always were.
  MakeImage("photo.jpg", 64, 48);
  std::string before = ReadWholeFile(Work("photo.jpg"));
  ExpectUsage(Orvane({"--help", "photo.jpg"}), 1);
  ExpectUsage(Orvane({"--version", "-w", "10", "photo.jpg"}), 1);
  ExpectWarning(Orvane({"--HELP"}),
                "Input file: --HELP - must end in .jpg, .jpeg, .png or .bmp");
  EXPECT_EQ(before, ReadWholeFile(Work("photo.jpg")));
  EXPECT_EQ(Texts{"photo.jpg"}, WorkNames());
}

TEST_F(EndToEnd, HelpOpensThePageBesideTheProgram) {
  Result r = Orvane({"-HELP"});
  EXPECT_EQ(0, r.status);
  EXPECT_EQ("", r.out + r.err);
  std::string program = BuiltProgram();
  // Under Wine the shell's browser is winebrowser, which passes a file URL.
  EXPECT_EQ((WindowsProgram() ? "file://" : "") +
                program.substr(0, program.rfind('/')) + "/Help/index.html",
            WaitForOpened());
}

TEST_F(EndToEnd, HelpWithoutAnOpenerSaysWhereThePageIs) {
  SKIP_FOR_WINDOWS_PROGRAM("Wine's shell needs no PATH to open a page");
  env_[0] = "PATH=" + folder_.Path("nothing");
  std::string program = BuiltProgram();
  ExpectWarning(Orvane({"-help"}),
                "Couldn't open the help page: " +
                    program.substr(0, program.rfind('/')) + "/Help/index.html",
                "No program to show it was found; open the file in a web "
                "browser.");
}

// A program path too long for its 512-byte buffer counts as the current folder.
TEST_F(EndToEnd, OverlongProgramPathLooksForHelpInCurrentFolder) {
  SKIP_FOR_WINDOWS_PROGRAM("Windows starts no program from so long a path");
  std::string deep = folder_.Path("d");
  mkdir(deep.c_str(), 0755);
  while (deep.size() < 520) {
    deep += "/" + std::string(60, 'x');
    mkdir(deep.c_str(), 0755);
  }
  std::string copy = deep + "/orvane";
  WriteWholeFile(copy, ReadWholeFile(BuiltProgram()));
  chmod(copy.c_str(), 0755);
  Result r = Finish(Start({"-help"}, copy));
  EXPECT_EQ(0, r.status);
  EXPECT_EQ("./Help/index.html", WaitForOpened());
}

TEST_F(EndToEnd, SpecialCommandAmongOthersIsAnUnknownOption) {
  MakeImage("photo.jpg", 64, 48);
  std::string before = ReadWholeFile(Work("photo.jpg"));
  ExpectUsage(Orvane({"-ver", "photo.jpg"}), 1, "-ver\n");
  ExpectUsage(Orvane({"-x", "photo.jpg"}), 1, "-x\n");
  ExpectUsage(Orvane({"-w800", "photo.jpg"}), 1, "-w800\n");
  EXPECT_EQ(before, ReadWholeFile(Work("photo.jpg")));
  EXPECT_EQ(Texts{"photo.jpg"}, WorkNames());
}

TEST_F(EndToEnd, InputIsLoadedBeforeOptionsAreRead) {
  ExpectWarning(Orvane({"-x", "missing.jpg"}),
                "Couldn't open input file: missing.jpg",
                "There is no such file.");
  ExpectWarning(Orvane({"-c.bmp.x"}),
                "Input file: -c.bmp.x - must end in .jpg, .jpeg, .png or .bmp");
  ExpectWarning(Orvane({"photo.gif"}),
                "Input file: photo.gif - must end in .jpg, .jpeg, .png or .bmp");
  WriteWholeFile(Work("broken.png"), "not a picture");
  ExpectWarning(Orvane({"broken.png"}),
                "Couldn't open input file: broken.png",
                "It is not a JPEG, PNG or BMP image.");
  EXPECT_EQ(Texts{"broken.png"}, WorkNames());
}

TEST_F(EndToEnd, PhotoAloneIsSavedBackAtQuality100) {
  MakeImage("photo.jpg", 120, 80);
  FIBITMAP *original = LoadWork("photo.jpg");
  std::string expected = LibrarySaves(original, FIF_JPEG, 100);
  FreeImage_Unload(original);
  Result r = Orvane({"photo.jpg"});
  EXPECT_EQ(0, r.status);
  EXPECT_EQ("", r.out + r.err);
  EXPECT_EQ(expected, ReadWholeFile(Work("photo.jpg")));
  EXPECT_EQ(Texts{"photo.jpg"}, WorkNames());
}

TEST_F(EndToEnd, EditsActInOrderAsTheLibraryWouldDoThem) {
  MakeImage("photo.png", 400, 300);
  FIBITMAP *original = LoadWork("photo.png");
  FIBITMAP *turned = FreeImage_Rotate(original, 90, nullptr);
  FIBITMAP *cropped = FreeImage_Copy(turned, 0, 0, 100, 50);
  FreeImage_FlipHorizontal(cropped);
  std::string expected = LibrarySaves(cropped, FIF_BMP, 100);
  FreeImage_Unload(cropped);
  FreeImage_Unload(turned);
  FreeImage_Unload(original);
  std::string before = ReadWholeFile(Work("photo.png"));
  Result r = Orvane({"-r", "90", "-C", "0", "0", "100", "50", "-FH", "-o",
                     "out.bmp", "photo.png"});
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(expected, ReadWholeFile(Work("out.bmp")));
  EXPECT_EQ(before, ReadWholeFile(Work("photo.png")));
  EXPECT_EQ((Texts{"out.bmp", "photo.png"}), WorkNames());
}

TEST_F(EndToEnd, LastQualityCounts) {
  MakeImage("photo.jpg", 90, 60);
  FIBITMAP *original = LoadWork("photo.jpg");
  std::string expected = LibrarySaves(original, FIF_JPEG, 60);
  FreeImage_Unload(original);
  Result r = Orvane({"-oq", "80", "-oq", "60", "photo.jpg"});
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(expected, ReadWholeFile(Work("photo.jpg")));
  // A JPEG quality serves a PNG as the documents say: 85 is level 5.
  MakeImage("photo.png", 90, 60);
  original = LoadWork("photo.png");
  ASSERT_EQ(0, Orvane({"-oq", "85", "-o", "out.png", "photo.png"}).status);
  EXPECT_EQ(LibrarySaves(original, FIF_PNG, 5), ReadWholeFile(Work("out.png")));
  FreeImage_Unload(original);
}

// Every system reads an angle as a plain decimal number, whatever its C
// library's atof would make of the rest.
TEST_F(EndToEnd, AngleIsReadAsAPlainDecimalNumber) {
  MakeImage("photo.png", 90, 60);
  struct Case {
    const char *angle, *same_as;
  } cases[] = {{"1.6e1", "16"},
               {"1e-300", "0"},  // no corner moves: not resampled
               {"90.0000000001", "90"},
               {" -9e+1", "-90"}};
  for (const Case &c : cases) {
    ASSERT_EQ(0, Orvane({"-r", c.angle, "-o", "a.bmp", "photo.png"}).status);
    ASSERT_EQ(0, Orvane({"-r", c.same_as, "-o", "b.bmp", "photo.png"}).status);
    EXPECT_EQ(ReadWholeFile(Work("a.bmp")), ReadWholeFile(Work("b.bmp")))
        << c.angle;
  }
  // The last turn, by -90, did turn the image.
  ASSERT_EQ(0, Orvane({"-o", "c.bmp", "photo.png"}).status);
  EXPECT_NE(ReadWholeFile(Work("c.bmp")), ReadWholeFile(Work("a.bmp")));
}

TEST_F(EndToEnd, ResizeRules) {
  MakeImage("photo.png", 400, 300);
  // A JPEG resized first is decoded at a fraction of its size, but the
  // size in proportion is the full picture's: 999 x 1000 at a half is
  // 500 x 500, which would give 100 x 100. The reduced decode's note of the
  // original size is no text for the PNG.
  MakeImage("odd.jpg", 999, 1000);
  struct Case {
    Texts options;
    unsigned width, height;
    const char *photo;
  } cases[] = {
      {{"-w", "80"}, 80, 60, "photo.png"},
      {{"-h", "0"}, 170, 128, "photo.png"},
      {{"-wh", "64", "48"}, 64, 48, "photo.png"},
      {{"-wh", "64", "0"}, 64, 48, "photo.png"},
      {{"-wh", "0", "48"}, 64, 48, "photo.png"},
      {{"-wh", "0", "0"}, 170, 128, "photo.png"},
      {{"-w", "-3"}, 170, 128, "photo.png"},
      {{"-WH", "50", "7"}, 50, 7, "photo.png"},
      {{"-fiLTer", "LANCZOS", "-w", "80"}, 80, 60, "photo.png"},
      {{"-h", "100"}, 99, 100, "odd.jpg"},
      {{"-filter", "Lanczos", "-h", "100"}, 99, 100, "odd.jpg"},
      {{"-r", "90", "-fv", "-w", "100"}, 100, 99, "odd.jpg"},
  };
  for (const Case &c : cases) {
    Texts args = c.options;
    args.insert(args.end(), {"-o", "out.png", c.photo});
    EXPECT_EQ(0, Orvane(args).status);
    EXPECT_EQ(std::make_pair(c.width, c.height), SizeOf("out.png"))
        << c.photo << " " << c.options[0] << " " << c.options[1];
    EXPECT_EQ(std::string::npos,
              ReadWholeFile(Work("out.png")).find("OriginalJPEG"));
  }
  // A side in proportion is at least a pixel; it once rounded down to none
  // and the resize was refused.
  MakeImage("strip.png", 3, 1000);
  EXPECT_EQ(0, Orvane({"-h", "100", "-o", "out.png", "strip.png"}).status);
  EXPECT_EQ(std::make_pair(1u, 100u), SizeOf("out.png"));
}

// -filter chooses the filter of the resizes after it, and only of those.
TEST_F(EndToEnd, FilterActsOnTheResizesAfterIt) {
  MakeImage("photo.png", 400, 300);
  FIBITMAP *original = LoadWork("photo.png");
  FIBITMAP *half = FreeImage_Rescale(original, 200, 150, FILTER_BSPLINE);
  FIBITMAP *quarter = FreeImage_Rescale(half, 100, 75, FILTER_LANCZOS3);
  std::string expected = LibrarySaves(quarter, FIF_BMP, 100);
  FreeImage_Unload(quarter);
  FreeImage_Unload(half);
  FreeImage_Unload(original);
  ASSERT_EQ(0, Orvane({"-w", "200", "-filter", "lanczos3", "-w", "100", "-o",
                       "out.bmp", "photo.png"}).status);
  EXPECT_EQ(expected, ReadWholeFile(Work("out.bmp")));
  // Spline is the filter without -filter.
  ASSERT_EQ(0, Orvane({"-filter", "Spline", "-w", "100", "-o", "a.bmp",
                       "photo.png"}).status);
  ASSERT_EQ(0, Orvane({"-w", "100", "-o", "b.bmp", "photo.png"}).status);
  EXPECT_EQ(ReadWholeFile(Work("a.bmp")), ReadWholeFile(Work("b.bmp")));
}

// A resize split over the threads gives the library's own picture, byte
// for byte, with any filter, shrinking or widening either side, and so does
// one thread (ORVANE_THREADS=1).
TEST_F(EndToEnd, ResizeOnEveryThreadIsTheLibrarysPicture) {
  MakeImage("photo.png", 900, 700);  // large enough to be split
  FIBITMAP *original = LoadWork("photo.png");
  const struct {
    const char *filter;
    FREE_IMAGE_FILTER code;
    int width, height;
  } cases[] = {{"Spline", FILTER_BSPLINE, 300, 200},
               {"Spline", FILTER_BSPLINE, 1200, 500},
               {"Lanczos", FILTER_LANCZOS3, 900, 1000},
               {"Mitchell", FILTER_BICUBIC, 400, 700}};
  for (const auto &c : cases) {
    FIBITMAP *one = FreeImage_Rescale(original, c.width, c.height, c.code);
    std::string expected = LibrarySaves(one, FIF_BMP, 0);
    FreeImage_Unload(one);
    for (const char *threads : {"", "ORVANE_THREADS=1"}) {
      if (*threads) env_.push_back(threads);
      ASSERT_EQ(0, Orvane({"-filter", c.filter, "-wh", std::to_string(c.width),
                           std::to_string(c.height), "-o", "out.bmp",
                           "photo.png"}).status);
      if (*threads) env_.pop_back();
      EXPECT_EQ(expected, ReadWholeFile(Work("out.bmp")))
          << c.filter << " " << c.width << "x" << c.height << " " << threads;
    }
  }
  FreeImage_Unload(original);
}

// A -filter before the first resize leaves it the shrink on load, with the
// margin the filter needs: Lanczos keeps twice the size, B-spline three
// times, which a 1600 x 1200 photo made 400 wide can't give at a half.
TEST_F(EndToEnd, ShrinkOnLoadKeepsTheMarginOfTheFilter) {
  MakeImage("photo.jpg", 1600, 1200);
  const std::string log = folder_.Path("temp/Orvane.log");
  const std::string reduced = "photo.jpg decoded at 1/2 of its size";
  ASSERT_EQ(0, Orvane({"-dbg=1", "-filter", "Spline", "-w", "400", "-o",
                       "out.jpg", "photo.jpg"}).status);
  EXPECT_EQ(std::string::npos, ReadWholeFile(log).find("decoded at"));
  ASSERT_EQ(0, Orvane({"-dbg=1", "-filter", "Lanczos", "-w", "400", "-o",
                       "out.jpg", "photo.jpg"}).status);
  EXPECT_NE(std::string::npos, ReadWholeFile(log).find(reduced));
}

TEST_F(EndToEnd, OutputToPngAndUnknownOutputFormat) {
  MakeImage("photo.jpg", 64, 48);
  std::string before = ReadWholeFile(Work("photo.jpg"));
  EXPECT_EQ(0, Orvane({"-o", "out.png", "photo.jpg"}).status);
  EXPECT_EQ(std::make_pair(64u, 48u), SizeOf("out.png"));
  ExpectWarning(Orvane({"-o", "out.gif", "photo.jpg"}),
                "Save: file (out.gif) - must end in .jpg, .jpeg, .png or .bmp");
  EXPECT_EQ(before, ReadWholeFile(Work("photo.jpg")));
  EXPECT_EQ((Texts{"out.png", "photo.jpg"}), WorkNames());
}

// Windows names ignore letter case, Linux names keep it.
TEST_F(EndToEnd, NamesDifferingInCaseAreOneFileOnlyOnWindows) {
  MakeImage("photo.jpg", 64, 48);
  EXPECT_EQ(0, Orvane({"-w", "32", "-o", "PHOTO.JPG", "photo.jpg"}).status);
  Texts names = WorkNames();
  if (WindowsProgram()) {
    ASSERT_EQ(1u, names.size());
    EXPECT_EQ(std::make_pair(32u, 24u), SizeOf(names[0]));
  } else {
    EXPECT_EQ((Texts{"PHOTO.JPG", "photo.jpg"}), names);
    EXPECT_EQ(std::make_pair(64u, 48u), SizeOf("photo.jpg"));
  }
}

// The file name is never an option's value: each slip below once replaced
// the photo (a thumbnail, a strip, a copy onto itself) with status 0.
TEST_F(EndToEnd, FileNameIsNeverAValue) {
  MakeImage("photo.jpg", 64, 48);
  std::string before = ReadWholeFile(Work("photo.jpg"));
  const Texts typos[] = {
      {"-h", "photo.jpg"},
      {"-w", "photo.jpg"},
      {"-wh", "800x600", "photo.jpg"},
      {"-c", "1", "2", "3", "photo.jpg"},
      {"-w", "10", "-o", "photo.jpg"},
  };
  for (const Texts &typo : typos) ExpectUsage(Orvane(typo), 1);
  // Every option, each of its values in turn replaced by the file name.
  for (const EditOption *row = EditOptionTable; row->name != NULL; row++) {
    for (int cut = 0; cut < row->values; cut++) {
      Texts args = {row->name};
      for (int i = 0; i < cut; i++) args.push_back("1");
      args.push_back("photo.jpg");
      ExpectUsage(Orvane(args), 1);
    }
  }
  EXPECT_EQ(before, ReadWholeFile(Work("photo.jpg")));
  EXPECT_EQ(Texts{"photo.jpg"}, WorkNames());
}

// Each slip a user makes, and each file that can't be read or written,
// ends with status 1, says what was wrong, and changes no file. Slips head
// the usage with what was typed (a value refused: one line points at it);
// failures keep their first line and add the cause.
TEST_F(EndToEnd, SlipsAndFailuresSayWhatWasWrong) {
  MakeImage("photo.jpg", 64, 48);
  WriteWholeFile(Work("empty.jpg"), "");
  WriteWholeFile(Work("anim.jpg"), "GIF89a and the rest of a GIF");
  ASSERT_EQ(0, mkdir(Work("folder.png").c_str(), 0755));
  ASSERT_EQ(0, mkdir(Work("folder.png/photo.jpg").c_str(), 0755));
  ASSERT_EQ(0, mkdir(Work("album").c_str(), 0755));
  const Texts names = WorkNames();
  std::string photo = ReadWholeFile(Work("photo.jpg"));
  const std::string slip = "Not understood: ";
  auto own_folder = [](const std::string &folder) {
    return "-o " + folder + " is the photo's own folder: the photo would be "
           "replaced. Name another folder or an output file; -o photo.jpg "
           "saves over the photo on purpose.";
  };
  // A value refused is said without the usage, which one line points at.
  const std::string pointer =
      "Orvane -? shows every option and the values it takes.";
  struct Case {
    Texts args;
    std::string first, cause = "";  // "": only the first line is checked
  } cases[] = {
      {{"-w", "abc"}, slip + "-w abc (abc is not a whole number)", pointer},
      {{"-w", "8OO"}, slip + "-w 8OO (8OO is not a whole number)", pointer},
      {{"-w", "800px"},
       slip + "-w 800px (800px is not a whole number)",
       pointer},
      {{"-h", "1e2"}, slip + "-h 1e2 (1e2 is not a whole number)", pointer},
      {{"-r", "abc"}, slip + "-r abc (abc is not a number)", pointer},
      {{"-r", "0x10"}, slip + "-r 0x10 (0x10 is not a number)", pointer},
      {{"-r", "nan"}, slip + "-r nan (nan is not a number)", pointer},
      {{"-oq", "abc"}, slip + "-oq abc (abc is not a whole number)", pointer},
      {{"-c", "0", "0", "10", "ten"},
       slip + "-c 0 0 10 ten (ten is not a whole number)", pointer},
      {{"-rr", "90"}, slip + "-rr\n"},
      {{"--width", "200"}, slip + "--width (options begin with one -)"},
      {{"-w", "10", "a.jpg"},
       slip + "a.jpg (Orvane edits one file at a time, named last)"},
      {{"-wh", "800"},
       slip + "-wh 800 (-wh takes 2 values before the file name)"},
      {{"-w", "999999"},
       "Option -w 999999 failed: not enough memory for a 999999 x 749999 "
       "image."},
      {{"-wh", "70000", "10"},
       "Couldn't save output file: photo.jpg",
       "A JPEG holds at most 65500 pixels a side; the image is 70000 x 10."},
      {{"-o", "out.gif"},
       "Save: file (out.gif) - must end in .jpg, .jpeg, .png or .bmp"},
      {{"-o", "no/out.jpg"}, "Couldn't save output file: no/out.jpg",
       "The folder no does not exist."},
      {{"-o", "no/deeper/out.png"}, "Couldn't save output file: no/deeper/out.png",
       "The folder no does not exist."},
      {{"-o", "folder.png/"},
       "Couldn't save output file: folder.png/photo.jpg"},
      {{"-o", "no/"}, "Couldn't save output file: no/photo.jpg",
       "The folder no does not exist."},
      {{"-w", "32", "-o", "."},
       std::string("Couldn't save output file: .") +
           (WindowsProgram() ? "\\" : "/") + "photo.jpg",
       own_folder(".")},
      {{"-o", "album/../"}, "Couldn't save output file: album/../photo.jpg",
       own_folder("album/../")},
      {{"-lossless", "-r", "90", "-o", Work("")},
       "Couldn't save output file: " + Work("photo.jpg"), own_folder(Work(""))},
      {{"-oq", "1000"},
       slip + "-oq 1000 (JPEG quality runs from 1 to 100)",
       pointer},
      {{"-oq", "0"}, slip + "-oq 0 (JPEG quality runs from 1 to 100)", pointer},
      {{"-oq", "-5"},
       slip + "-oq -5 (JPEG quality runs from 1 to 100)",
       pointer},
      {{"-oq", "99999999999"},
       slip + "-oq 99999999999 (JPEG quality runs from 1 to 100)", pointer},
      {{"-oq", "8192"},
       slip + "-oq 8192 (JPEG quality runs from 1 to 100)",
       pointer},
      {{"-oq", "49242"},
       slip + "-oq 49242 (a JPEG takes one chroma subsampling)", pointer},
      {{"-oq", "1000", "-o", "out.png"},
       slip + "-oq 1000 (PNG takes a quality of 1 to 100, or a compression "
              "level of 0 to 9 plus 256 for none or 512 for interlaced)",
       pointer},
      {{"-o", "out.bmp", "-oq", "101"},
       slip + "-oq 101 (BMP takes a quality of 0 to 100)", pointer},
      {{"-w", ""}, slip + "-w \"\" (the value is empty; -w needs a width)",
       pointer},
      {{"-o", ""}, slip + "-o \"\" (the value is empty; -o needs the "
                          "output's name)", pointer},
      {{"-filter", "Sharp", "-w", "10"},
       slip + "-filter Sharp (Sharp is no filter's name; -filter takes Box, "
              "Triangle, Mitchell, Catrom, Lanczos, Spline, bilinear, "
              "bicubic, bspline, catmullrom or lanczos3)", pointer},
      {{"-c", "40", "30", "30", "30"},
       "Option -c 40 30 30 30 failed: the rectangle runs from column 40 to "
       "70 and row 30 to 60, outside the 64 x 48 image."},
      {{"-c", "0", "40", "10", "10"},
       "Option -c 0 40 10 10 failed: the rectangle runs from column 0 to 10 "
       "and row 40 to 50, outside the 64 x 48 image."},
      {{"-c", "0", "0", "0", "0"},
       "Option -c 0 0 0 0 failed: the rectangle is empty (0 x 0); the image "
       "is 64 x 48."},
      {{"-lossless", "-c", "8", "8", "0", "16"},
       "Option -c 8 8 0 16 failed: the rectangle is empty (0 x 16); the "
       "image is 64 x 48."},
  };
  for (const Case &c : cases) {
    Texts args = c.args;
    args.push_back("photo.jpg");
    Result r = Orvane(args);
    if (c.first.rfind(slip, 0) == 0 && c.cause.empty())
      ExpectUsage(r, 1, c.first.substr(slip.size()));
    else
      ExpectWarning(r, c.first, c.cause);
    EXPECT_EQ(photo, ReadWholeFile(Work("photo.jpg"))) << c.args[0];
    EXPECT_EQ(names, WorkNames()) << c.args[0];
  }
  const Case inputs[] = {
      {{"in.gif"}, "Input file: in.gif - must end in .jpg, .jpeg, .png or .bmp"},
      {{"missing.jpg"}, "Couldn't open input file: missing.jpg",
       "There is no such file."},
      {{"folder.png"}, "Couldn't open input file: folder.png",
       "It is a folder, not a file."},
      {{"-w", "10", "album"}, "Couldn't open input file: album",
       "album is a folder; Orvane edits one photo a run, named last."},
      {{"empty.jpg"}, "Couldn't open input file: empty.jpg",
       "The file is empty."},
      {{"anim.jpg"}, "Couldn't open input file: anim.jpg",
       "It holds a GIF image; Orvane reads JPEG, PNG and BMP."},
  };
  for (const Case &c : inputs) ExpectWarning(Orvane(c.args), c.first, c.cause);
  // The photo left out, or named first as other tools take it.
  const Case lines[] = {
      {{"-h"}, "No file given: -h needs a height, then the photo's name."},
      {{"-w"}, "No file given: -w needs a width, then the photo's name."},
      {{"-filter"},
       "No file given: -filter needs a filter's name, then the photo's name."},
      {{"-wh", "800"}, "No file given: name the photo last, after -wh 800."},
      {{"-fh"}, "No file given: name the photo last, after -fh."},
      {{"photo.jpg", "-w", "800"},
       slip + "photo.jpg -w 800 (the photo's name comes last: -w 800 "
              "photo.jpg)"},
      {{"-r", "90", "photo.jpg", "-fh"},
       slip + "-r 90 photo.jpg -fh (the photo's name comes last: -r 90 -fh "
              "photo.jpg)"},
      {{"-w", "80", "photo.jpg", "-o", "out.jpg"},
       slip + "-w 80 photo.jpg -o out.jpg (the photo's name comes last: -w "
              "80 -o out.jpg photo.jpg)"},
      {{"-w", "10", "-o", "out.jpg"},
       "No file given: name the photo last, after -w 10 -o out.jpg."},
      {{"-w", "10", "-filter", "Box"},
       "No file given: name the photo last, after -w 10 -filter Box."},
  };
  for (const Case &c : lines) {
    Result r = Orvane(c.args);
    ExpectUsage(r, 1);
    EXPECT_EQ(0u, r.err.find(std::string(kCaption) + ": " + c.first + "\n"))
        << r.err;
  }
  EXPECT_EQ(photo, ReadWholeFile(Work("photo.jpg")));
  EXPECT_EQ(names, WorkNames());
}

// A download saved under the wrong ending is read by what it holds; the
// output's format still follows the output's name.
TEST_F(EndToEnd, ContentDecidesHowTheInputIsRead) {
  MakeImage("real.png", 64, 48);
  WriteWholeFile(Work("photo.jpg"), ReadWholeFile(Work("real.png")));
  ASSERT_EQ(0, Orvane({"-w", "32", "-o", "out.bmp", "photo.jpg"}).status);
  EXPECT_EQ(std::make_pair(32u, 24u), SizeOf("out.bmp"));
  ASSERT_EQ(0, Orvane({"photo.jpg"}).status);
  EXPECT_EQ(FIF_JPEG, FreeImage_GetFileType(Work("photo.jpg").c_str(), 0));
}

TEST_F(EndToEnd, OptionShortOfValuesShowsUsage) {
  MakeImage("photo.jpg", 64, 48);
  std::string before = ReadWholeFile(Work("photo.jpg"));
  ExpectUsage(Orvane({"-c", "0", "0", "photo.jpg"}), 1);
  ExpectUsage(Orvane({"-wh", "photo.jpg"}), 1);
  ExpectUsage(Orvane({"-w", "10", "-c", "1", "1", "photo.jpg"}), 1);
  EXPECT_EQ(before, ReadWholeFile(Work("photo.jpg")));
}

TEST_F(EndToEnd, EditThatYieldsNoImageNamesTheOption) {
  MakeImage("photo.jpg", 64, 48);
  std::string photo = ReadWholeFile(Work("photo.jpg"));
  ExpectWarning(Orvane({"-c", "60", "0", "10", "10", "photo.jpg"}),
                "Option -c 60 0 10 10 failed: the rectangle runs from column "
                "60 to 70 and row 0 to 10, outside the 64 x 48 image.");
  ExpectWarning(Orvane({"-c", "2147483647", "0", "5", "5", "photo.jpg"}),
                "Option -c 2147483647 0 5 5 failed: the rectangle runs from "
                "column 2147483647 to 2147483652 and row 0 to 5, outside the "
                "64 x 48 image.");
  ExpectWarning(Orvane({"-w", "2000000000", "photo.jpg"}),
                "Option -w 2000000000 failed: not enough memory for a "
                "2000000000 x 1500000000 image.");
  for (const char *angle : {"1e400", "-1e999"})
    ExpectWarning(Orvane({"-r", angle, "photo.jpg"}),
                  std::string("Option -r ") + angle +
                      " failed: the image can't be rotated.");
  EXPECT_EQ(photo, ReadWholeFile(Work("photo.jpg")));
  EXPECT_EQ(Texts{"photo.jpg"}, WorkNames());
}

// A folder named by -o takes the photo under its own name and format; a
// failed save there destroys nothing.
TEST_F(EndToEnd, OutputFolderTakesThePhotoUnderItsOwnName) {
  MakeImage("photo.jpg", 64, 48);
  MakeImage("IMG_0002.PNG", 64, 48);
  ASSERT_EQ(0, mkdir(Work("shelf.jpg").c_str(), 0755));
  std::string photo = ReadWholeFile(Work("photo.jpg"));
  EXPECT_EQ(0, Orvane({"-w", "32", "-o", "shelf.jpg", "photo.jpg"}).status);
  EXPECT_EQ(0, Orvane({"-w", "32", "-o", "shelf.jpg/", "IMG_0002.PNG"}).status);
  EXPECT_EQ(std::make_pair(32u, 24u), SizeOf("shelf.jpg/photo.jpg"));
  EXPECT_EQ(FIF_PNG, FreeImage_GetFileType(
                         Work("shelf.jpg/IMG_0002.PNG").c_str(), 0));
  EXPECT_EQ(photo, ReadWholeFile(Work("photo.jpg")));
  ExpectWarning(Orvane({"-o", "no/such/out.png", "photo.jpg"}),
                "Couldn't save output file: no/such/out.png",
                "The folder no does not exist.");
  EXPECT_EQ((Texts{"IMG_0002.PNG", "photo.jpg", "shelf.jpg"}), WorkNames());
}

// An image with alpha once ended in "Couldn't save output file" as JPEG.
TEST_F(EndToEnd, ImageWithAlphaSavesAsJpegOnWhite) {
  MakeImage("alpha.png", 64, 48, 32);
  Result r = Orvane({"-w", "32", "-o", "photo.jpg", "alpha.png"});
  EXPECT_EQ(0, r.status);
  EXPECT_EQ("", r.out + r.err);
  EXPECT_EQ(std::make_pair(32u, 24u), SizeOf("photo.jpg"));
}

// cron jobs and services run with next to no environment; editing a photo
// needs none of it.
TEST_F(EndToEnd, NoDataFolderIsNeededOnLinux) {
  SKIP_FOR_WINDOWS_PROGRAM("Windows (and Wine) always sets AppData");
  MakeImage("photo.jpg", 64, 48);
  env_.erase(std::remove_if(env_.begin(), env_.end(),
                            [](const std::string &e) {
                              return e.rfind("AppData=", 0) == 0 ||
                                     e.rfind("HOME=", 0) == 0 ||
                                     e.rfind("XDG_DATA_HOME=", 0) == 0;
                            }),
             env_.end());
  ExpectUsage(Orvane({"-?"}), 0);
  EXPECT_EQ(0, Orvane({"-w", "32", "photo.jpg"}).status);
  EXPECT_EQ(std::make_pair(32u, 24u), SizeOf("photo.jpg"));
}

TEST_F(EndToEnd, DebugLevelLogsTheRawCommandLine) {
  MakeImage("my photo.jpg", 64, 48);
  Result r = Orvane({"-DBG=2", "-w", "32", "my photo.jpg"});
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(std::make_pair(32u, 24u), SizeOf("my photo.jpg"));
  std::string log = ReadWholeFile(folder_.Path("temp/Orvane.log"));
  const std::string end = ProgramLineEnd();
  EXPECT_TRUE(std::regex_match(
      log, std::regex("\\*" + end + "\\* \\w{3} \\d\\d \\w{3} \\d{4}" + end +
                      "\\*" + end +
                      "\\d\\d:\\d\\d:\\d\\d Cmdline: [^\r\n]+" + end)))
      << log;
  EXPECT_NE(std::string::npos,
            log.find(" Cmdline: " + ProgramInCommandLine() +
                     " -DBG=2 -w 32 \"my photo.jpg\"" + end));
  Result version = Orvane({"-dbg=1", "-ver"});
  EXPECT_EQ(0, version.status);
  EXPECT_NE(std::string::npos, version.out.find("Build date:"));
  log = ReadWholeFile(folder_.Path("temp/Orvane.log"));
  EXPECT_EQ(8, std::count(log.begin(), log.end(), '\n'));  // banner per run
  EXPECT_NE(std::string::npos,
            log.find("Cmdline: " + ProgramInCommandLine() + " -dbg=1 -ver" +
                     end));
}

// Names outside any one-byte code page open, edit, save and show as typed:
// UTF-8 on Linux, and on Windows the code page the program's manifest asks
// for.
TEST_F(EndToEnd, UnicodeNamesWorkAndShowRight) {
  MakeImage("写真.jpg", 64, 48);
  Result r = Orvane({"-dbg=1", "-w", "32", "-o", "小さな写真.png", "写真.jpg"});
  EXPECT_EQ(0, r.status);
  EXPECT_EQ("", r.out + r.err);
  EXPECT_EQ(std::make_pair(32u, 24u), SizeOf("小さな写真.png"));
  EXPECT_EQ(0, Orvane({"-fh", "写真.jpg"}).status);
  EXPECT_EQ((Texts{"写真.jpg", "小さな写真.png"}), WorkNames());
  ExpectWarning(Orvane({"-o", "写真.gif", "写真.jpg"}),
                "Save: file (写真.gif) - must end in .jpg, .jpeg, .png or .bmp");
  ExpectWarning(Orvane({"Ωμέγα.png"}), "Couldn't open input file: Ωμέγα.png",
                "There is no such file.");
  std::string log = ReadWholeFile(folder_.Path("temp/Orvane.log"));
  EXPECT_NE(std::string::npos,
            log.find(" -dbg=1 -w 32 -o 小さな写真.png 写真.jpg" +
                     ProgramLineEnd()))
      << log;
}

TEST_F(EndToEnd, NoLogWithoutAPositiveDebugLevel) {
  MakeImage("photo.jpg", 64, 48);
  for (const char *option : {"-dbg=0", "-dbg=-3", "-dbg=abc", "-dbg="})
    EXPECT_EQ(0, Orvane({option, "photo.jpg"}).status) << option;
  EXPECT_EQ(0, Orvane({"photo.jpg"}).status);
  EXPECT_EQ(Texts{}, TempFolder::NamesIn(folder_.Path("temp")));
  // Only the first -dbg= is taken; the second is an unknown option.
  ExpectUsage(Orvane({"-dbg=0", "-dbg=0", "photo.jpg"}), 1, "-dbg=0\n");
}

// A photo large enough to be mapped, not read, is saved over itself, both
// re-encoded and losslessly, as it is saved elsewhere: its map is closed
// before the save replaces it (Windows refuses to replace a mapped file).
TEST_F(EndToEnd, MappedPhotoIsSavedOverItself) {
  MakeImage("photo.jpg", 4096, 3072);
  std::string photo = ReadWholeFile(Work("photo.jpg"));
  ASSERT_GT(photo.size(), 256u * 1024);  // mapped
  for (const Texts &edit : {Texts{"-r", "90"}, Texts{"-lossless", "-r", "90"}}) {
    WriteWholeFile(Work("photo.jpg"), photo);
    Texts elsewhere = edit, over = edit;
    elsewhere.insert(elsewhere.end(), {"-o", "out.jpg", "photo.jpg"});
    over.push_back("photo.jpg");
    ASSERT_EQ(0, Orvane(elsewhere).status) << edit[0];
    ASSERT_EQ(0, Orvane(over).status) << edit[0];
    EXPECT_EQ(ReadWholeFile(Work("out.jpg")), ReadWholeFile(Work("photo.jpg")));
  }
  EXPECT_EQ((Texts{"out.jpg", "photo.jpg"}), WorkNames());
}

// A save over the input, killed at any moment, leaves the old image or the
// new one, never a mixture or a stump. Where the kills land depends on how
// fast the machine is, so how many came during the save (a temporary file
// was left: where the file system makes no unnamed one, or in the moment
// the finished file is named) is reported, not required.
TEST_F(EndToEnd, KilledWhileSavingLeavesAWholeFile) {
  MakeImage("big.png", 1600, 1200);
  std::string old_image = ReadWholeFile(Work("big.png"));
  auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(0, Orvane({"-r", "90", "-oq", "9", "big.png"}).status);
  auto full = std::chrono::steady_clock::now() - started;
  std::string new_image = ReadWholeFile(Work("big.png"));
  ASSERT_NE(old_image, new_image);
  int kills = 40, mid_save = 0, news = 0;
  for (int i = 1; i <= kills; i++) {
    WriteWholeFile(Work("big.png"), old_image);
    pid_t pid = Start({"-r", "90", "-oq", "9", "big.png"});
    std::this_thread::sleep_for(full * i * 3 / (2 * kills));
    kill(pid, SIGKILL);
    Finish(pid);
    std::string now = ReadWholeFile(Work("big.png"));
    EXPECT_TRUE(now == old_image || now == new_image) << "kill " << i;
    news += now == new_image;
    // A temporary file left behind shows the kill landed during the save.
    for (const std::string &name : WorkNames()) {
      if (name == "big.png") continue;
      mid_save++;
      unlink(Work(name).c_str());
    }
  }
  RecordProperty("killed_mid_save", mid_save);
  RecordProperty("had_new", news);
}

// The EXIF a camera writes for picture: its size, the orientation and a
// thumbnail.
std::string CameraBlock(FIBITMAP *picture, int orientation,
                        const std::string &thumbnail,
                        uint16_t orientation_type = 3) {
  ExifPlaces places;
  return ExifBlockMaker(true, orientation_type)
      .Camera(FreeImage_GetWidth(picture), FreeImage_GetHeight(picture),
              orientation, thumbnail, &places);
}

void SaveWithExif(const std::string &path, FIBITMAP *picture,
                  const std::string &block) {
  AttachExifBlock(picture, block);
  EXPECT_TRUE(FreeImage_Save(FIF_JPEG, picture, path.c_str(), 100));
}

// A camera's photo of picture.
void SaveAsCameraPhoto(const std::string &path, FIBITMAP *picture,
                       int orientation, uint16_t orientation_type = 3) {
  SaveWithExif(
      path, picture,
      CameraBlock(picture, orientation, SmallJpeg(), orientation_type));
}

// The integer types cameras store the orientation in: SHORT, as EXIF says,
// LONG and SLONG.
const uint16_t kOrientationTypes[] = {3, 4, 9};
const char *const kTypeNames[] = {"SHORT", "LONG", "SLONG"};

std::string TagText(FIBITMAP *bitmap, FREE_IMAGE_MDMODEL model,
                    const char *key) {
  FITAG *tag = nullptr;
  if (!FreeImage_GetMetadata(model, bitmap, key, &tag)) return "<none>";
  return FreeImage_TagToString(model, tag);
}

// A crop once kept the camera's thumbnail of the whole picture, byte for
// byte, and the old size: the picture cut away went out with the result.
TEST_F(EndToEnd, GeometryEditsLeaveNoStaleThumbnailNorSize) {
  FIBITMAP *scene = MakeSceneImage(64, 48, 24);
  std::string thumbnail = SmallJpeg();
  SaveWithExif(Work("photo.jpg"), scene, CameraBlock(scene, 1, thumbnail));
  FreeImage_Unload(scene);
  std::string tail = ThumbnailTail(thumbnail);
  ASSERT_NE(std::string::npos, ReadWholeFile(Work("photo.jpg")).find(tail));
  const Texts kEdits[] = {{"-c", "2", "2", "40", "30"}, {"-r", "90"},
                          {"-r", "30"}, {"-fh"}, {"-fv"}, {"-w", "32"},
                          {"-h", "24"}, {"-wh", "20", "20"}, {"-upright"}};
  for (Texts args : kEdits) {
    SCOPED_TRACE(args[0]);
    args.insert(args.end(), {"-o", "out.jpg", "photo.jpg"});
    Result r = Orvane(args);
    ASSERT_EQ(0, r.status) << r.err;
    bool geometry = args[0] != "-upright";  // orientation 1: nothing to do
    EXPECT_EQ(geometry, ReadWholeFile(Work("out.jpg")).find(tail) ==
                            std::string::npos);
    FIBITMAP *out = LoadWork("out.jpg");
    // The library's own copy of it, which its writer writes apart.
    EXPECT_EQ(geometry, FreeImage_GetThumbnail(out) == nullptr);
    EXPECT_EQ(std::to_string(FreeImage_GetWidth(out)),
              TagText(out, FIMD_EXIF_EXIF, "PixelXDimension"));
    EXPECT_EQ(std::to_string(FreeImage_GetHeight(out)),
              TagText(out, FIMD_EXIF_EXIF, "PixelYDimension"));
    FreeImage_Unload(out);
    if (!WindowsProgram()) {  // no exiftool beside Orvane.exe under Wine
      EXPECT_EQ("OK", ExiftoolFindings(Work("out.jpg")));
    }
  }
}

// A picture the user sees: six tiles of colours far apart, 16 pixels a
// side so that JPEG keeps each one flat.
const RGBQUAD kTiles[2][3] = {{{0, 0, 255, 0}, {0, 255, 0, 0}, {255, 0, 0, 0}},
                              {{0, 255, 255, 0}, {255, 255, 255, 0},
                               {0, 0, 0, 0}}};

RGBQUAD SeenAt(int x, int y) { return kTiles[y / 16][x / 16]; }

// The picture stored as a camera held sideways or upside down stores it,
// (x, y) counted from the top left: EXIF names where the stored rows and
// columns lie in the picture seen.
FIBITMAP *StoredFor(int orientation) {
  const int W = 48, H = 32;
  bool sideways = orientation >= 5;
  FIBITMAP *stored = FreeImage_Allocate(sideways ? H : W, sideways ? W : H, 24);
  int width = FreeImage_GetWidth(stored), height = FreeImage_GetHeight(stored);
  for (int y = 0; y < height; y++) {
    for (int x = 0; x < width; x++) {
      const int seen[9][2] = {{0, 0},         {x, y},
                              {W - 1 - x, y}, {W - 1 - x, H - 1 - y},
                              {x, H - 1 - y}, {y, x},
                              {W - 1 - y, x}, {W - 1 - y, H - 1 - x},
                              {y, H - 1 - x}};
      RGBQUAD colour = SeenAt(seen[orientation][0], seen[orientation][1]);
      FreeImage_SetPixelColor(stored, x, height - 1 - y, &colour);
    }
  }
  return stored;
}

// Every orientation, stored in any integer type cameras use, gives the
// picture the tag shows, its tag 1 and no thumbnail of the picture as it
// was stored.
TEST_F(EndToEnd, UprightGivesThePictureTheTagShows) {
  for (int at = 0; at < 24; at++) {
    int orientation = at % 8 + 1;
    SCOPED_TRACE(testing::Message()
                 << orientation << " " << kTypeNames[at / 8]);
    FIBITMAP *stored = StoredFor(orientation);
    // Viewers that read XMP would turn it again if it kept its own.
    std::string xmp = "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
                      "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
                      "<rdf:Description xmlns:tiff='http://ns.adobe.com/tiff/"
                      "1.0/' tiff:Orientation='" +
                      std::to_string(orientation) +
                      "'/></rdf:RDF></x:xmpmeta>";
    FreeImage_SetMetadataKeyValue(FIMD_XMP, stored, "XMLPacket", xmp.c_str());
    SaveAsCameraPhoto(Work("photo.jpg"), stored, orientation,
                      kOrientationTypes[at / 8]);
    FreeImage_Unload(stored);
    Result r = Orvane({"-upright", "-o", "out.jpg", "photo.jpg"});
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_NE(std::string::npos,
              ReadWholeFile(Work("out.jpg")).find("tiff:Orientation='1'"));
    FIBITMAP *out = LoadWork("out.jpg");
    ASSERT_EQ(48u, FreeImage_GetWidth(out));
    ASSERT_EQ(32u, FreeImage_GetHeight(out));
    for (int y = 8; y < 32; y += 16) {
      for (int x = 8; x < 48; x += 16) {
        RGBQUAD got, want = SeenAt(x, y);
        FreeImage_GetPixelColor(out, x, 31 - y, &got);
        EXPECT_NEAR(want.rgbRed, got.rgbRed, 8) << x << "," << y;
        EXPECT_NEAR(want.rgbGreen, got.rgbGreen, 8) << x << "," << y;
        EXPECT_NEAR(want.rgbBlue, got.rgbBlue, 8) << x << "," << y;
      }
    }
    EXPECT_EQ("top, left side", TagText(out, FIMD_EXIF_MAIN, "Orientation"));
    EXPECT_EQ(orientation > 1, FreeImage_GetThumbnail(out) == nullptr);
    FreeImage_Unload(out);
  }
}

// Its size is known before any work: a sideways photo is upright with its
// sides swapped, once.
TEST_F(EndToEnd, UprightSizeIsKnownBeforeAnyWork) {
  FIBITMAP *stored = StoredFor(6);
  SaveAsCameraPhoto(Work("photo.jpg"), stored, 6);
  FreeImage_Unload(stored);
  for (const Texts &args :
       {Texts{"-upright", "-w", "999999", "photo.jpg"},
        Texts{"-upright", "-upright", "-w", "999999", "photo.jpg"}})
    ExpectWarning(Orvane(args),
                  "Option -w 999999 failed: not enough memory for a 999999 x "
                  "666666 image.");
}

// The file at path with a segment or chunk put in: a JPEG's right after
// its SOI, a PNG's before its first IDAT.
void InsertInto(const std::string &path, const std::string &piece) {
  std::string bytes = ReadWholeFile(path);
  size_t at = bytes.compare(0, 2, "\xFF\xD8") == 0 ? 2 : bytes.find("IDAT") - 4;
  WriteWholeFile(path, bytes.insert(at, piece));
}

std::string JpegSegment(int marker, const std::string &payload) {
  size_t length = payload.size() + 2;
  return std::string{'\xFF', (char)marker, (char)(length >> 8), (char)length} +
         payload;
}

std::string PngChunk(const std::string &type, const std::string &data) {
  std::string typed = type + data;
  uint32_t crc = FreeImage_ZLibCRC32(0, (BYTE *)typed.data(), typed.size());
  auto big = [](uint32_t v) {
    return std::string{(char)(v >> 24), (char)(v >> 16), (char)(v >> 8),
                       (char)v};
  };
  return big((uint32_t)data.size()) + typed + big(crc);
}

// A camera photo with every kind of metadata: a profile, XMP, IPTC, EXIF
// and an APP3 segment as Kodak's cameras write one (the owner's name).
void SaveTaggedPhoto(const std::string &path) {
  FIBITMAP *scene = MakeSceneImage(64, 48, 24);
  std::string profile = MinimalIccProfile("RGB ");
  FreeImage_CreateICCProfile(scene, (void *)profile.data(),
                             (long)profile.size());
  FreeImage_SetMetadataKeyValue(FIMD_XMP, scene, "XMLPacket",
                                "<x:xmpmeta xmlns:x='adobe:ns:meta/'/>");
  FreeImage_SetMetadataKeyValue(FIMD_IPTC, scene, "By-line", "A. Person");
  SaveAsCameraPhoto(path, scene, 1);
  FreeImage_Unload(scene);
  InsertInto(path, JpegSegment(0xE3, std::string("Meta\0\0MM\0*", 10) +
                                         "Owner: A. Person"));
}

// The signatures of the EXIF, XMP, IPTC and APP3 that SaveTaggedPhoto
// writes.
const std::string kMetadata[] = {std::string("Exif\0\0", 6), "xmpmeta",
                                 "Photoshop 3.0", std::string("Meta\0\0", 6)};

// What the output's EXIF says: the orientation, the make (IFD0), the
// width (the Exif directory) and whether a thumbnail is left.
std::string ExifSays(const std::string &path) {
  FIBITMAP *out = FreeImage_Load(FIF_JPEG, path.c_str(), 0);
  if (out == nullptr) return "<no picture>";
  std::string says = TagText(out, FIMD_EXIF_MAIN, "Orientation") + " | " +
                     TagText(out, FIMD_EXIF_MAIN, "Make") + " | " +
                     TagText(out, FIMD_EXIF_EXIF, "PixelXDimension") +
                     (FreeImage_GetThumbnail(out) ? " | thumbnail" : "");
  FreeImage_Unload(out);
  return says;
}

// EXIF that can't go whole (it can't be mended safely, or is more than a
// JPEG segment holds) keeps what IFD0 says safely, never stale data; a
// plain save is never less truthful than -strip, which keeps the
// orientation.
TEST_F(EndToEnd, ExifThatCantGoWholeKeepsWhatIfd0SaysSafely) {
  ExifPlaces places;
  ExifBlockMaker maker(false);
  std::string looping = maker.Camera(64, 48, 6, SmallJpeg(), &places);
  looping.replace(places.ifd1 + 2 + 6 * 12, 4,
                  maker.Number((uint32_t)places.ifd1 - 6, 4));  // IFD1 loops
  // An entry count far past the block's end once crashed the library's own
  // EXIF reader: no block is shown to it now.
  std::string unreadable = maker.Camera(64, 48, 6, SmallJpeg(), &places);
  unreadable[places.ifd0 + 1] = 0x70;
  FIBITMAP *scene = MakeSceneImage(64, 48, 24);
  SaveWithExif(Work("looping.jpg"), scene, looping);
  SaveWithExif(Work("unreadable.jpg"), scene, unreadable);
  // A PNG's eXIf of a 70,000-byte comment: more than a JPEG's APP1 holds.
  std::string comment = std::string("ASCII\0\0\0", 8) + std::string(70000, 'c');
  std::string large = maker.Tiff(
      {maker.Text(0x010F, "Orvane test"), maker.Short(0x0112, 6),
       maker.Rational(0x011A, 72), maker.Rational(0x011B, 72),
       maker.Short(0x0128, 2)},
      0x8769, {maker.Long(0xA002, 64), maker.Bytes(0x9286, comment)});
  FreeImage_Save(FIF_PNG, scene, Work("large.png").c_str(), 0);
  InsertInto(Work("large.png"), PngChunk("eXIf", large));
  FreeImage_Unload(scene);
  const char kSideways[] = "right side, top | Orvane test | <none>";
  const struct {
    Texts args;
    std::string says;      // of out.jpg; "" for out.png, which holds it all
    const char *exiftool;  // its -Orientation -n
  } kLines[] = {
      {{"-w", "32", "looping.jpg"}, kSideways, "6"},
      {{"-fv", "looping.jpg"}, kSideways, "6"},
      {{"-upright", "looping.jpg"},
       "top, left side | Orvane test | <none>",
       "1"},
      {{"-fv", "unreadable.jpg"}, "<none> | <none> | <none>", ""},
      {{"large.png"}, kSideways, "6"},
      {{"-r", "90", "large.png"}, kSideways, "6"},
      {{"-strip", "large.png"}, "right side, top | <none> | <none>", "6"},
      {{"-o", "out.png", "large.png"}, "", ""},
  };
  for (const auto &line : kLines) {
    SCOPED_TRACE(testing::PrintToString(line.args));
    Texts args = line.args;
    if (!line.says.empty()) args.insert(args.end() - 1, {"-o", "out.jpg"});
    Result r = Orvane(args);
    ASSERT_EQ(0, r.status) << r.err;
    if (line.says.empty()) {
      EXPECT_NE(std::string::npos, ReadWholeFile(Work("out.png")).find(large));
      continue;
    }
    EXPECT_EQ(line.says, ExifSays(Work("out.jpg")));
    if (!WindowsProgram()) {  // no exiftool beside Orvane.exe under Wine
      EXPECT_EQ(line.exiftool, ExiftoolOrientation(Work("out.jpg")));
    }
  }
  // With nothing to mend, a block goes on as it came, unread.
  ASSERT_EQ(0, Orvane({"-o", "out.jpg", "unreadable.jpg"}).status);
  EXPECT_NE(std::string::npos, ReadWholeFile(Work("out.jpg")).find(unreadable));
}

// -strip acts on the output wherever it stands; the profile stays, or the
// colours would change.
TEST_F(EndToEnd, StripLeavesOutMetadataButKeepsTheProfile) {
  SaveTaggedPhoto(Work("photo.jpg"));
  std::string photo = ReadWholeFile(Work("photo.jpg"));
  for (const std::string &metadata : kMetadata)
    ASSERT_NE(std::string::npos, photo.find(metadata)) << metadata;
  const struct {
    Texts args;
    std::string output;
  } kLines[] = {{{"-strip", "-o", "out.jpg", "photo.jpg"}, "out.jpg"},
                {{"-o", "last.jpg", "-strip", "-fh", "photo.jpg"}, "last.jpg"},
                {{"-strip", "-o", "out.png", "photo.jpg"}, "out.png"}};
  for (const auto &line : kLines) {
    SCOPED_TRACE(line.output);
    ASSERT_EQ(0, Orvane(line.args).status);
    std::string out = ReadWholeFile(Work(line.output));
    for (const std::string &metadata : kMetadata)
      EXPECT_EQ(std::string::npos, out.find(metadata)) << metadata;
    EXPECT_EQ(std::string::npos, out.find("JFXX"));  // the camera's thumbnail
    EXPECT_NE(std::string::npos,
              out.find(line.output == "out.png" ? "iCCP" : "ICC_PROFILE"));
  }
  // A plain save writes the camera's thumbnail once, in the EXIF, not again
  // as a JFIF extension.
  ASSERT_EQ(0, Orvane({"-o", "same.jpg", "photo.jpg"}).status);
  EXPECT_EQ(std::string::npos, ReadWholeFile(Work("same.jpg")).find("JFXX"));
  // A PNG keeps the camera's EXIF in its eXIf chunk and the XMP; -strip on
  // a PNG leaves out the EXIF other tools keep as text, and comments.
  ASSERT_EQ(0, Orvane({"-o", "kept.png", "photo.jpg"}).status);
  std::string kept = ReadWholeFile(Work("kept.png"));
  EXPECT_NE(std::string::npos, kept.find("eXIf"));
  EXPECT_NE(std::string::npos, kept.find("Orvane test"));  // the camera's make
  EXPECT_NE(std::string::npos, kept.find("xmpmeta"));
  InsertInto(Work("kept.png"),
             PngChunk("tEXt", std::string("Raw profile type exif\0", 22) +
                                  "\nexif\n 6\n457869660000\n") +
                 PngChunk("tEXt", std::string("Comment\0", 8) + "at dusk"));
  ASSERT_EQ(0, Orvane({"-strip", "-o", "stripped.png", "kept.png"}).status);
  std::string png = ReadWholeFile(Work("stripped.png"));
  for (const char *gone : {"eXIf", "Orvane test", "xmpmeta", "Raw profile"})
    EXPECT_EQ(std::string::npos, png.find(gone)) << gone;
  EXPECT_EQ(std::string::npos, png.find("at dusk"));
  // A portrait photo stays upright in viewers: its orientation stays, alone.
  FIBITMAP *scene = MakeSceneImage(64, 48, 24);
  SaveAsCameraPhoto(Work("portrait.jpg"), scene, 6);
  FreeImage_Unload(scene);
  ASSERT_EQ(0, Orvane({"-strip", "-o", "out.jpg", "portrait.jpg"}).status);
  std::string out = ReadWholeFile(Work("out.jpg"));
  EXPECT_EQ(std::string::npos, out.find("Orvane test"));  // the camera's make
  FIBITMAP *stripped = FreeImage_Load(FIF_JPEG, Work("out.jpg").c_str(), 0);
  ASSERT_NE(nullptr, stripped);
  FITAG *tag = nullptr;
  ASSERT_TRUE(FreeImage_GetMetadata(FIMD_EXIF_MAIN, stripped, "Orientation",
                                    &tag));
  EXPECT_EQ(6, *(const uint16_t *)FreeImage_GetTagValue(tag));
  EXPECT_FALSE(FreeImage_GetMetadata(FIMD_EXIF_MAIN, stripped, "Make", &tag));
  FreeImage_Unload(stripped);
}

// ---- -lossless: the coded blocks moved as they are ----

// The bytes of a decoded picture, row after row.
std::string PixelsOf(FIBITMAP *bitmap) {
  std::string pixels;
  for (unsigned y = 0; y < FreeImage_GetHeight(bitmap); y++)
    pixels.append((const char *)FreeImage_GetScanLine(bitmap, (int)y),
                  FreeImage_GetLine(bitmap));
  return pixels;
}

std::string DecodedPixels(FIBITMAP *bitmap) {
  std::string pixels = bitmap != nullptr ? PixelsOf(bitmap) : "<none>";
  if (bitmap != nullptr) FreeImage_Unload(bitmap);
  return pixels;
}

// The largest difference of a channel between two pictures of one size.
int LargestDifference(FIBITMAP *a, FIBITMAP *b) {
  std::string pa = PixelsOf(a), pb = PixelsOf(b);
  if (pa.size() != pb.size()) return 256;
  int largest = 0;
  for (size_t i = 0; i < pa.size(); i++)
    largest = std::max(largest, std::abs((unsigned char)pa[i] -
                                         (unsigned char)pb[i]));
  return largest;
}

// The frame marker of a JPEG: 0xC0 baseline, 0xC2 progressive.
int FrameMarker(const std::string &jpeg) {
  for (size_t at = 2; at + 4 <= jpeg.size();) {
    int marker = (unsigned char)jpeg[at + 1];
    if (marker >= 0xC0 && marker <= 0xC2) return marker;
    at += 2 + ((unsigned char)jpeg[at + 2] << 8 | (unsigned char)jpeg[at + 3]);
  }
  return 0;
}

// A turn and its way back give the photo's very blocks, which decode to its
// very pixels; a re-encoded round trip would not. Each way alone shows the
// picture turned, as near as the decoder's rounding allows.
TEST_F(EndToEnd, LosslessTurnsAndFlipsMoveTheBlocksAsTheyAre) {
  MakeImage("photo.jpg", 64, 48);  // whole blocks of 16 x 16
  FIBITMAP *photo = LoadWork("photo.jpg");
  const std::string kPhoto = PixelsOf(photo);
  const struct {
    Texts there, back;
    FIBITMAP *(*expected)(FIBITMAP *);
  } kWays[] = {
      {{"-r", "90"}, {"-r", "-90"},
       [](FIBITMAP *b) { return FreeImage_Rotate(b, 90, nullptr); }},
      {{"-r", "-270"}, {"-r", "270"},
       [](FIBITMAP *b) { return FreeImage_Rotate(b, 90, nullptr); }},
      {{"-r", "180"}, {"-filter", "Lanczos", "-r", "180"},
       [](FIBITMAP *b) { return FreeImage_Rotate(b, 180, nullptr); }},
      {{"-fh"}, {"-fh"},
       [](FIBITMAP *b) {
         FIBITMAP *c = FreeImage_Clone(b);
         FreeImage_FlipHorizontal(c);
         return c;
       }},
      {{"-fv"}, {"-fv"},
       [](FIBITMAP *b) {
         FIBITMAP *c = FreeImage_Clone(b);
         FreeImage_FlipVertical(c);
         return c;
       }},
      {{"-r", "90", "-fh"}, {"-fh", "-r", "-90"}, [](FIBITMAP *b) {
         FIBITMAP *c = FreeImage_Rotate(b, 90, nullptr);
         FreeImage_FlipHorizontal(c);
         return c;
       }},
      {{"-r", "-90", "-fh"}, {"-fh", "-r", "90"}, [](FIBITMAP *b) {
         FIBITMAP *c = FreeImage_Rotate(b, 270, nullptr);
         FreeImage_FlipHorizontal(c);
         return c;
       }}};
  for (const auto &way : kWays) {
    Texts there = {"-lossless"}, back = {"-lossless"};
    there.insert(there.end(), way.there.begin(), way.there.end());
    back.insert(back.end(), way.back.begin(), way.back.end());
    SCOPED_TRACE(::testing::PrintToString(there));
    there.insert(there.end(), {"-o", "there.jpg", "photo.jpg"});
    back.insert(back.end(), {"-o", "back.jpg", "there.jpg"});
    Result r = Orvane(there);
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_EQ("", r.out + r.err);
    FIBITMAP *expected = way.expected(photo);
    FIBITMAP *turned = LoadWork("there.jpg");
    ASSERT_NE(nullptr, turned);
    EXPECT_GE(4, LargestDifference(expected, turned));
    FreeImage_Unload(expected);
    FreeImage_Unload(turned);
    ASSERT_EQ(0, Orvane(back).status);
    EXPECT_TRUE(kPhoto == DecodedPixels(LoadWork("back.jpg")));
  }
  FreeImage_Unload(photo);
  // In place, as any save: twice flipped, the photo is itself again.
  ASSERT_EQ(0, Orvane({"-lossless", "-fh", "photo.jpg"}).status);
  ASSERT_EQ(0, Orvane({"-lossless", "-fh", "photo.jpg"}).status);
  EXPECT_TRUE(kPhoto == DecodedPixels(LoadWork("photo.jpg")));
}

// Cropped to its whole blocks before the turn or after it, in the turned
// picture's pixels (whose top rows are then the partial blocks of the
// right edge), the photo gives the same blocks.
TEST_F(EndToEnd, LosslessCropsOnTheBlockGridWhereverTheCropStands) {
  MakeImage("photo.jpg", 70, 50);  // partial blocks: 6 right, 2 at the bottom
  ASSERT_EQ(0, Orvane({"-lossless", "-c", "0", "0", "64", "48", "-r", "90",
                       "-o", "before.jpg", "photo.jpg"})
                   .status);
  Result r = Orvane({"-lossless", "-r", "90", "-c", "0", "6", "48", "64",
                     "-o", "after.jpg", "photo.jpg"});
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_EQ((std::pair<unsigned, unsigned>(48, 64)), SizeOf("after.jpg"));
  EXPECT_TRUE(DecodedPixels(LoadWork("before.jpg")) ==
              DecodedPixels(LoadWork("after.jpg")));
  // A crop inside, on the grid and given by its far corner, is the same
  // part of the picture.
  ASSERT_EQ(0, Orvane({"-lossless", "-c", "48", "32", "-32", "-16", "-o",
                       "part.jpg", "photo.jpg"})
                   .status);
  // Decoded with chroma doubled: smooth upsampling blends it across the
  // piece's edges, where the whole photo has neighbours the piece lacks.
  auto blocky = [&](const char *name) {
    return FreeImage_Load(FIF_JPEG, Work(name).c_str(), 0);
  };
  FIBITMAP *photo = blocky("photo.jpg");
  FIBITMAP *expected = FreeImage_Copy(photo, 16, 16, 48, 32);
  FIBITMAP *part = blocky("part.jpg");
  ASSERT_NE(nullptr, part);
  EXPECT_GE(4, LargestDifference(expected, part));
  for (FIBITMAP *b : {photo, expected, part}) FreeImage_Unload(b);
}

// What could not be exact is refused, with the option at fault and why;
// nothing is written.
TEST_F(EndToEnd, LosslessRefusesWhatCouldNotBeExact) {
  MakeImage("photo.jpg", 70, 50);  // blocks of 16 x 16
  MakeImage("photo.png", 64, 48);
  const std::string before = ReadWholeFile(Work("photo.jpg"));
  const struct {
    Texts args;
    std::string first;
  } kCases[] = {
      {{"-lossless", "-r", "90", "photo.jpg"},
       "Option -r 90 can't be done losslessly: the photo's right edge cuts "
       "through its coded blocks, and the edits would move it; a first -c 0 "
       "0 64 50 leaves those blocks out."},
      {{"-fv", "-lossless", "photo.jpg"},
       "Option -fv can't be done losslessly: the photo's bottom edge cuts "
       "through its coded blocks, and the edits would move it; a first -c 0 "
       "0 70 48 leaves those blocks out."},
      {{"-lossless", "-r", "-180", "-o", "out.jpg", "photo.jpg"},
       "Option -r -180 can't be done losslessly: the photo's right and "
       "bottom edges cut through its coded blocks, and the edits would move "
       "them; a first -c 0 0 64 48 leaves those blocks out."},
      {{"-lossless", "-c", "8", "0", "32", "32", "photo.jpg"},
       "Option -c 8 0 32 32 can't be done losslessly: the result must begin "
       "on the photo's grid of coded blocks, 16 x 16 pixels as stored; -c 0 "
       "0 32 32 would."},
      {{"-lossless", "-r", "45", "photo.jpg"},
       "Option -r 45 can't be done losslessly: it turns by 45 degrees; only "
       "quarter turns (multiples of 90) move the photo's coded blocks as "
       "they are."},
      {{"-lossless", "-c", "0", "0", "64", "48", "-w", "10", "photo.jpg"},
       "Option -w 10 can't be done losslessly: a resize makes new pixels; "
       "only quarter turns, flips and crops move the photo's coded blocks as "
       "they are."},
      {{"-lossless", "-o", "out.png", "photo.jpg"},
       "Option -o out.png can't be done losslessly: the output out.png would "
       "not be a JPEG; only a JPEG keeps the photo's coded blocks as they "
       "are."},
      {{"-lossless", "-fh", "photo.png"},
       "The edits on photo.png can't be done losslessly: it holds a PNG "
       "image, not a JPEG."}};
  for (const auto &c : kCases) {
    SCOPED_TRACE(c.first);
    ExpectWarning(Orvane(c.args), c.first,
                  "Without -lossless the photo is re-encoded.");
    EXPECT_EQ(before, ReadWholeFile(Work("photo.jpg")));
    EXPECT_EQ((Texts{"photo.jpg", "photo.png"}), WorkNames());
  }
  // The blocks keep their own quality: one asked for is a slip.
  ExpectUsage(Orvane({"-lossless", "-oq", "90", "photo.jpg"}), 1,
              "-oq 90 (-lossless keeps the photo's own quality)");
  // Without -lossless, the same turn is re-encoded.
  EXPECT_EQ(0, Orvane({"-r", "90", "-o", "out.jpg", "photo.jpg"}).status);
  // A photo that stops the decoder behind its scan: in place, it stays.
  std::string broken = before;
  broken.insert(broken.size() - 2, std::string("\xFF\xC8\0\4\0\0", 6));
  WriteWholeFile(Work("broken.jpg"), broken);
  ExpectWarning(Orvane({"-lossless", "-c", "0", "0", "64", "48", "-fh",
                        "broken.jpg"}),
                "Couldn't save output file: broken.jpg",
                "The lossless transform failed: Unsupported JPEG process: "
                "SOF type 0xc8.");
  EXPECT_EQ(broken, ReadWholeFile(Work("broken.jpg")));
  // The sampling read once, by libjpeg: a factor that doesn't divide the
  // largest is refused with its cause; chroma sampled 1 x 2 under a 2 x 2
  // luma moves on a 16 x 8 grid, as TurboJPEG, which sized the blocks
  // apart from the libjpeg that moved them, called it 4:2:2.
  size_t sof = before.find("\xFF\xC0");
  ASSERT_NE(std::string::npos, sof);
  for (const char *factors : {"\x22\x31\x11", "\x22\x12\x12"}) {
    std::string resampled = before;
    for (int c = 0; c < 3; c++) resampled[sof + 11 + 3 * c] = factors[c];
    WriteWholeFile(Work("resampled.jpg"), resampled);
    Texts line = {"-lossless", "-c", "0", "8", "32", "32", "resampled.jpg"};
    if (factors[1] == '\x31') {
      ExpectWarning(Orvane(line), "Couldn't open input file: resampled.jpg",
                    "The lossless transform could not read it: its 3 "
                    "components are sampled in a way no decoder shows.");
      EXPECT_EQ(resampled, ReadWholeFile(Work("resampled.jpg")));
    } else {
      EXPECT_EQ(0, Orvane(line).status);
    }
  }
}

// The EXIF tells the new geometry and keeps no thumbnail of the picture as
// it was; -upright turns by the tag, in any integer type, which is then 1.
TEST_F(EndToEnd, LosslessTellsTheExifTheNewGeometry) {
  for (int type = 0; type < 3; type++) {
    SCOPED_TRACE(kTypeNames[type]);
    FIBITMAP *scene = MakeSceneImage(64, 48, 24);
    std::string thumbnail = SmallJpeg();
    SaveWithExif(Work("photo.jpg"), scene,
                 CameraBlock(scene, 6, thumbnail, kOrientationTypes[type]));
    FreeImage_Unload(scene);
    const std::string tail = ThumbnailTail(thumbnail);
    ASSERT_NE(std::string::npos, ReadWholeFile(Work("photo.jpg")).find(tail));
    // Upright is a quarter turn clockwise, then the crop.
    Result r = Orvane({"-lossless", "-upright", "-c", "0", "16", "48", "32",
                       "-o", "out.jpg", "photo.jpg"});
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_EQ(std::string::npos, ReadWholeFile(Work("out.jpg")).find(tail));
    FIBITMAP *turned = LoadWork("out.jpg");
    ASSERT_NE(nullptr, turned);
    EXPECT_EQ(48u, FreeImage_GetWidth(turned));
    EXPECT_EQ(32u, FreeImage_GetHeight(turned));
    EXPECT_EQ("top, left side",
              TagText(turned, FIMD_EXIF_MAIN, "Orientation"));
    EXPECT_EQ("48", TagText(turned, FIMD_EXIF_EXIF, "PixelXDimension"));
    EXPECT_EQ("32", TagText(turned, FIMD_EXIF_EXIF, "PixelYDimension"));
    FreeImage_Unload(turned);
    if (!WindowsProgram()) {  // no exiftool beside Orvane.exe under Wine
      // A LONG orientation is non-standard, but the camera's own choice;
      // a signed one is written back unsigned.
      std::string findings = ExiftoolFindings(Work("photo.jpg"));
      size_t at = findings.find("int32s");
      if (at != std::string::npos) findings.replace(at, 6, "int32u");
      EXPECT_EQ(findings, ExiftoolFindings(Work("out.jpg")));
    }
  }
}

// Every marker goes with the blocks, but for an unknown one (APP3) after
// an edit; -strip leaves out EXIF, IPTC and XMP but not the profile, nor an
// orientation that turns the picture.
TEST_F(EndToEnd, LosslessCarriesEveryMarkerUnlessStripped) {
  SaveTaggedPhoto(Work("photo.jpg"));
  for (bool edit : {true, false}) {
    SCOPED_TRACE(edit);
    Texts line = {"-lossless", "-o", "out.jpg", "photo.jpg"};
    if (edit) line.insert(line.begin() + 1, "-fh");
    ASSERT_EQ(0, Orvane(line).status);
    std::string out = ReadWholeFile(Work("out.jpg"));
    for (const std::string &metadata : kMetadata)
      EXPECT_EQ(edit && metadata[0] == 'M',
                out.find(metadata) == std::string::npos)
          << metadata;
    EXPECT_NE(std::string::npos, out.find("ICC_PROFILE"));
  }
  ASSERT_EQ(0, Orvane({"-lossless", "-strip", "-fh", "-o", "stripped.jpg",
                       "photo.jpg"})
                   .status);
  std::string stripped = ReadWholeFile(Work("stripped.jpg"));
  for (const std::string &metadata : kMetadata)
    EXPECT_EQ(std::string::npos, stripped.find(metadata)) << metadata;
  EXPECT_EQ(std::string::npos, stripped.find("JFXX"));
  EXPECT_NE(std::string::npos, stripped.find("ICC_PROFILE"));
  // A portrait photo stays upright in viewers: its orientation stays, alone;
  // turned upright, it needs none.
  FIBITMAP *scene = MakeSceneImage(64, 48, 24);
  SaveAsCameraPhoto(Work("portrait.jpg"), scene, 6);
  FreeImage_Unload(scene);
  ASSERT_EQ(0, Orvane({"-lossless", "-strip", "-c", "0", "0", "32", "32",
                       "-o", "portrait-out.jpg", "portrait.jpg"})
                   .status);
  EXPECT_EQ(std::string::npos,
            ReadWholeFile(Work("portrait-out.jpg")).find("Orvane test"));
  FIBITMAP *portrait = LoadWork("portrait-out.jpg");
  ASSERT_NE(nullptr, portrait);
  EXPECT_EQ("right side, top", TagText(portrait, FIMD_EXIF_MAIN,
                                       "Orientation"));
  EXPECT_EQ("<none>", TagText(portrait, FIMD_EXIF_MAIN, "Make"));
  FreeImage_Unload(portrait);
  if (!WindowsProgram()) {  // no exiftool beside Orvane.exe under Wine
    EXPECT_EQ("OK", ExiftoolFindings(Work("portrait-out.jpg")));
  }
  ASSERT_EQ(0, Orvane({"-lossless", "-strip", "-upright", "-o",
                       "upright.jpg", "portrait.jpg"})
                   .status);
  EXPECT_EQ(std::string::npos, ReadWholeFile(Work("upright.jpg"))
                                   .find(std::string("Exif\0\0", 6)));
  // On a photo already upright (orientation 1, or none) -upright changes no
  // metadata, whichever path turns it: -lossless once set the orientation
  // and left the extended XMP out, where the re-encode kept both.
  std::string extension = JpegSegment(
      0xE1, std::string("http://ns.adobe.com/xmp/extension/\0", 35) +
                std::string(32, 'A') + std::string("\0\0\0\4\0\0\0\0", 8) +
                "<x/>");
  FIBITMAP *plain = MakeSceneImage(64, 48, 24);
  FreeImage_SetMetadataKeyValue(FIMD_XMP, plain, "XMLPacket",
                                "<x:xmpmeta xmlns:x='adobe:ns:meta/'/>");
  ASSERT_TRUE(FreeImage_Save(FIF_JPEG, plain, Work("plain.jpg").c_str(), 90));
  FreeImage_Unload(plain);
  for (const char *name : {"photo.jpg", "plain.jpg"}) {
    SCOPED_TRACE(name);
    InsertInto(Work(name), extension);
    auto segments = [&](const Texts &line) {  // APP1 and on, but the ICC
      EXPECT_EQ(0, Orvane(line).status);
      std::string out = ReadWholeFile(Work("out.jpg")), kept;
      for (size_t at = 2; at + 4 <= out.size() && out[at + 1] != '\xDA';) {
        size_t end = at + 2 + ((unsigned char)out[at + 2] << 8 |
                               (unsigned char)out[at + 3]);
        int marker = (unsigned char)out[at + 1];  // the writer places the
        if (marker >= 0xE1 && marker != 0xE2)     // profile its own way
          kept += out.substr(at, end - at);
        at = end;
      }
      return kept;
    };
    std::string lossless =
        segments({"-lossless", "-upright", "-o", "out.jpg", name});
    EXPECT_NE(std::string::npos, lossless.find("xmp/extension"));
    EXPECT_EQ(segments({"-upright", "-o", "out.jpg", name}), lossless);
  }
}

// A progressive photo stays progressive: a baseline copy of it is about a
// tenth larger. A baseline one stays baseline.
TEST_F(EndToEnd, LosslessKeepsTheWayThePhotoIsCoded) {
  FIBITMAP *scene = MakeSceneImage(64, 48, 24);
  ASSERT_TRUE(FreeImage_Save(FIF_JPEG, scene, Work("progressive.jpg").c_str(),
                             JPEG_PROGRESSIVE | 90));
  ASSERT_TRUE(FreeImage_Save(FIF_JPEG, scene, Work("baseline.jpg").c_str(),
                             90));
  FreeImage_Unload(scene);
  for (const char *name : {"progressive.jpg", "baseline.jpg"}) {
    // Laid into new blocks, and flipped in its own.
    for (Texts line : {Texts{"-r", "90"}, Texts{"-fh"}}) {
      SCOPED_TRACE(name + (" " + line[0]));
      int coded = FrameMarker(ReadWholeFile(Work(name)));
      ASSERT_NE(0, coded);
      line.insert(line.begin(), "-lossless");
      line.insert(line.end(), {"-o", "out.jpg", name});
      ASSERT_EQ(0, Orvane(line).status);
      EXPECT_EQ(coded, FrameMarker(ReadWholeFile(Work("out.jpg"))));
    }
  }
}

}  // namespace
