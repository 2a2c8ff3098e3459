// Faults of the machine met by the built program: a full disk, a file-size
// limit, no write permission, odd targets, too little memory. After each the
// input is whole, nothing half-written is left, and the message and status
// say what happened.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdlib.h>

#include <string>

#include "tests/image/png_bytes.h"
#include "tests/program_harness.h"

namespace {

class Faults : public ProgramHarness {
 protected:
  void TearDown() override {
    if (mounted_) umount2(folder_.Path("work").c_str(), MNT_DETACH);
  }

  // A small file system of its own for the work folder, when this machine
  // lets the test mount one.
  bool MountSmallWorkFolder(int kilobytes) {
    std::string options = "size=" + std::to_string(kilobytes) + "k";
    mounted_ = mount("tmpfs", folder_.Path("work").c_str(), "tmpfs", 0,
                     options.c_str()) == 0;
    return mounted_;
  }

  void ExpectOnlyNames(const Texts &names) { EXPECT_EQ(names, WorkNames()); }

  // Allocations that would take the program past this much address space
  // fail.
  void LimitProgramMemory(rlim_t megabytes) {
    in_child_ = [megabytes] {
      struct rlimit limit = {megabytes << 20, megabytes << 20};
      setrlimit(RLIMIT_AS, &limit);
    };
  }

  bool mounted_ = false;
};

// A side x side 16-bit RGBA PNG, interlaced, every row zero: deflated near
// its limit, 124 KB for 4000 x 4000, which loads to 128 MB.
std::string ZeroRowsPng(uint32_t side) {
  const uint32_t kPasses[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8},
                                  {2, 0, 4, 4}, {0, 2, 2, 4}, {1, 0, 2, 2},
                                  {0, 1, 1, 2}};  // x, y, steps across, down
  size_t raw = 0;
  for (const auto &pass : kPasses) {
    size_t across = (side - pass[0] + pass[2] - 1) / pass[2];
    size_t down = (side - pass[1] + pass[3] - 1) / pass[3];
    if (across > 0) raw += down * (1 + across * 8);
  }
  BYTE *zeros = (BYTE *)calloc(raw, 1);  // untouched: no memory taken
  std::string packed(raw / 500 + 64, '\0');
  DWORD size = FreeImage_ZLibCompress((BYTE *)&packed[0], (DWORD)packed.size(),
                                      zeros, (DWORD)raw);
  free(zeros);
  packed.resize(size);
  std::string header = Big32(side) + Big32(side) + "\x10\x06" +
                       std::string(2, '\0') + "\x01";
  return "\x89PNG\r\n\x1a\n" + Chunk("IHDR", header) +
         Chunk("IDAT", packed) + Chunk("IEND", "");
}

// A side x side BMP of 4-bit pixels in runs (RLE4) that ends at once: 120
// bytes.
std::string EmptyRle4Bmp(uint32_t side) {
  std::string bmp = "BM" + std::string(52, '\0');
  auto put = [&bmp](size_t at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; i++) bmp[at + i] = (char)(value >> (8 * i));
  };
  put(2, 120, 4);    // the file's size
  put(10, 118, 4);   // where the pixels start: behind 16 colours
  put(14, 40, 4);    // the info header's size
  put(18, side, 4);  // width
  put(22, side, 4);  // height
  put(26, 1, 2);     // planes
  put(28, 4, 2);     // bits a pixel
  put(30, 2, 4);     // RLE4
  return bmp + std::string(64, '\0') + std::string("\0\1", 2);
}

TEST_F(Faults, FileSizeLimitFailsTheSaveAndKeepsTheInput) {
  SKIP_FOR_WINDOWS_PROGRAM("a file-size limit is POSIX's");
  MakeImage("photo.png", 400, 300);
  std::string photo = ReadWholeFile(Work("photo.png"));
  in_child_ = [] {  // as `ulimit -f` leaves it: SIGXFSZ not ignored
    struct rlimit limit = {2048, 2048};  // smaller than any photo here
    setrlimit(RLIMIT_FSIZE, &limit);
  };
  ExpectWarning(Orvane({"-r", "90", "photo.png"}),
                "Couldn't save output file: photo.png");
  ExpectWarning(Orvane({"-o", "new.png", "photo.png"}),
                "Couldn't save output file: new.png");
  EXPECT_EQ(photo, ReadWholeFile(Work("photo.png")));
  ExpectOnlyNames({"photo.png"});
}

// The disk fills at every point of the save, its very end included: the
// program either saves a whole image and says 0, or says why and leaves
// nothing behind. Once it said 0 and left an empty file.
TEST_F(Faults, FullDiskAtEveryPointOfTheSave) {
  if (!MountSmallWorkFolder(1024)) GTEST_SKIP() << "cannot mount tmpfs here";
  MakeImage("photo.jpg", 480, 360);
  std::string photo = ReadWholeFile(Work("photo.jpg"));
  ASSERT_EQ(0, Orvane({"-fh", "-o", "whole.jpg", "photo.jpg"}).status);
  std::string whole = ReadWholeFile(Work("whole.jpg"));
  unlink(Work("whole.jpg").c_str());
  WriteWholeFile(Work("victim.jpg"), photo);
  int saved = 0, refused = 0;
  for (size_t room = 0; room <= whole.size() + 8192; room += 1024) {
    // Fill the disk, then free exactly `room` bytes of it.
    WriteWholeFile(Work("filler"), std::string(1024 * 1024, 'f'));
    std::string filler = ReadWholeFile(Work("filler"));
    unlink(Work("filler").c_str());
    WriteWholeFile(Work("filler"), filler.substr(0, filler.size() - room));
    for (const char *output : {"out.jpg", "victim.jpg"}) {
      Result r = Orvane({"-fh", "-o", output, "photo.jpg"});
      if (r.status == 0) {
        saved++;
        EXPECT_EQ(whole, ReadWholeFile(Work(output))) << room << output;
      } else {
        refused++;
        ExpectWarning(r, std::string("Couldn't save output file: ") + output,
                      "No space left on device.");
        EXPECT_EQ(std::string(output) == "victim.jpg" ? photo : "<missing>",
                  ReadWholeFile(Work(output))) << room;
        ExpectOnlyNames({"filler", "photo.jpg", "victim.jpg"});
      }
      unlink(Work("out.jpg").c_str());
    }
    EXPECT_EQ(photo, ReadWholeFile(Work("photo.jpg"))) << room;
    unlink(Work("filler").c_str());
    WriteWholeFile(Work("victim.jpg"), photo);
  }
  EXPECT_GT(saved, 0);
  EXPECT_GT(refused, 0);
  RecordProperty("saved", saved);
  RecordProperty("refused", refused);
}

TEST_F(Faults, ReadOnlyFolderRefusesTheSave) {
  MakeImage("photo.jpg", 64, 48);
  std::string photo = ReadWholeFile(Work("photo.jpg"));
  if (geteuid() == 0) {
    SKIP_FOR_WINDOWS_PROGRAM("Wine runs only as the owner of its prefix");
    // Root writes anywhere: the program runs as nobody instead.
    chmod(folder_.path().c_str(), 0755);
    in_child_ = [] {
      if (setgid(65534) != 0 || setuid(65534) != 0) _exit(126);
    };
    env_.push_back("HOME=/nonexistent");
  } else {
    chmod(folder_.Path("work").c_str(), 0555);
  }
  ExpectWarning(Orvane({"-r", "90", "photo.jpg"}),
                "Couldn't save output file: photo.jpg");
  // A new file: the folder is named as what may not be written, the
  // system's words after it.
  Result r = Orvane({"-o", "copy.png", "photo.jpg"});
  ExpectWarning(r, "Couldn't save output file: copy.png");
  EXPECT_NE(std::string::npos,
            r.err.find("\nThe current folder can't be written to: "))
      << r.err;
  chmod(folder_.Path("work").c_str(), 0755);
  EXPECT_EQ(photo, ReadWholeFile(Work("photo.jpg")));
  ExpectOnlyNames({"photo.jpg"});
}

// A read-only file may be replaced on POSIX, where only the folder's
// permission counts; Windows refuses to replace it. Either way the program
// says what became of it, and a refused save leaves the file as it was.
// A read-only photo is one its owner meant to keep; even root, whom the
// permission bits don't stop, leaves it alone.
TEST_F(Faults, ReadOnlyFileIsRefusedOnEverySystem) {
  MakeImage("photo.jpg", 64, 48);
  MakeImage("kept.jpg", 32, 24);
  std::string kept = ReadWholeFile(Work("kept.jpg"));
  chmod(Work("kept.jpg").c_str(), 0444);
  ExpectWarning(Orvane({"-o", "kept.jpg", "photo.jpg"}),
                "Couldn't save output file: kept.jpg", "The file is read-only.");
  EXPECT_EQ(kept, ReadWholeFile(Work("kept.jpg")));
  ExpectOnlyNames({"kept.jpg", "photo.jpg"});
}

// Root editing another user's photo gives it back to them, group included.
TEST_F(Faults, ReplacedFileKeepsItsOwnerAndGroup) {
  SKIP_FOR_WINDOWS_PROGRAM("owners are POSIX's");
  if (geteuid() != 0) GTEST_SKIP() << "only root can give a file away";
  MakeImage("photo.jpg", 64, 48);
  ASSERT_EQ(0, chown(Work("photo.jpg").c_str(), 1234, 5678));
  ASSERT_EQ(0, Orvane({"-w", "32", "photo.jpg"}).status);
  struct stat st;
  ASSERT_EQ(0, stat(Work("photo.jpg").c_str(), &st));
  EXPECT_EQ(1234u, st.st_uid);
  EXPECT_EQ(5678u, st.st_gid);
  EXPECT_EQ(std::make_pair(32u, 24u), SizeOf("photo.jpg"));
}

// An input that is no plain file is refused at once: a FIFO named like a
// photo once held the program until something wrote into it.
TEST_F(Faults, InputThatIsAFifoIsRefusedAtOnce) {
  SKIP_FOR_WINDOWS_PROGRAM("a FIFO is POSIX's");
  ASSERT_EQ(0, mkfifo(Work("x.png").c_str(), 0600));
  ExpectWarning(Orvane({"-o", "out.bmp", "x.png"}),
                "Couldn't open input file: x.png",
                "It is not a plain file but a device or a pipe.");
  ExpectOnlyNames({"x.png"});
}

// A folder where the output would go: -o names the folder it is in.
TEST_F(Faults, OutputThatIsAFolderIsLeftAlone) {
  MakeImage("photo.jpg", 64, 48);
  ASSERT_EQ(0, mkdir(Work("album.jpg").c_str(), 0755));
  ASSERT_EQ(0, mkdir(Work("album.jpg/photo.jpg").c_str(), 0755));
  WriteWholeFile(Work("album.jpg/photo.jpg/inside.txt"), "kept");
  ExpectWarning(Orvane({"-o", "album.jpg/", "photo.jpg"}),
                "Couldn't save output file: album.jpg/photo.jpg");
  EXPECT_EQ("kept", ReadWholeFile(Work("album.jpg/photo.jpg/inside.txt")));
  ExpectOnlyNames({"album.jpg", "photo.jpg"});
  // A folder as the input is no image.
  ExpectWarning(Orvane({"album.jpg"}), "Couldn't open input file: album.jpg",
                "It is a folder, not a file.");
}

TEST_F(Faults, SavingThroughALinkReplacesWhatItPointsTo) {
  SKIP_FOR_WINDOWS_PROGRAM("Wine shows a symbolic link as a plain file");
  MakeImage("real.jpg", 64, 48);
  ASSERT_EQ(0, symlink("real.jpg", Work("link.jpg").c_str()));
  ASSERT_EQ(0, Orvane({"-w", "32", "link.jpg"}).status);
  struct stat st;
  ASSERT_EQ(0, lstat(Work("link.jpg").c_str(), &st));
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(std::make_pair(32u, 24u), SizeOf("real.jpg"));
  ExpectOnlyNames({"link.jpg", "real.jpg"});
}

#if !defined(__SANITIZE_ADDRESS__)
// Too little memory for the image: the library's allocation fails and the
// program says so. (The address sanitizer cannot run under such a limit.)
TEST_F(Faults, TooLittleMemoryIsReportedNotCrashed) {
  SKIP_FOR_WINDOWS_PROGRAM("Wine alone needs more than this limit allows");
  MakeImage("photo.png", 2000, 1500);
  std::string photo = ReadWholeFile(Work("photo.png"));
  LimitProgramMemory(40);
  Result r = Orvane({"-r", "45", "photo.png"});
  EXPECT_EQ(1, r.status) << r.err;
  EXPECT_NE("", r.err);
  EXPECT_EQ(photo, ReadWholeFile(Work("photo.png")));
  ExpectOnlyNames({"photo.png"});
}

// The library loads a 1-bit PNG with transparency at 8 bits, so this 70 KB
// file takes 500 MB. Without that much memory it is refused before the
// library is shown it, and the log says why.
TEST_F(Faults, ImageNeedingMoreMemoryThanThereIsIsRefusedAtOnce) {
  SKIP_FOR_WINDOWS_PROGRAM("Wine alone needs more than this limit allows");
  WriteWholeFile(Work("wide.png"), PngOfForm(3, 1, true, 100000, 5000));
  LimitProgramMemory(300);
  ExpectWarning(Orvane({"-dbg=1", "-o", "out.bmp", "wide.png"}),
                "Couldn't open input file: wide.png");
  std::string log = ReadWholeFile(folder_.Path("temp/Orvane.log"));
  EXPECT_NE(std::string::npos, log.find("loading it takes 50")) << log;
  ExpectOnlyNames({"wide.png"});
}

// A limit set for one photo's job (ORVANE_MEMORY_LIMIT) is judged before
// the decode: the load, then each edit with the picture before it and the
// library's working bitmaps, or the lossless transform. 124 KB of PNG that
// took 258 MB to turn, and a 120-byte BMP that took 171 MB, are refused at
// once; within the limit the job goes on; a value that is no count of bytes
// is refused by name.
TEST_F(Faults, MemoryLimitSetByTheUserIsJudgedBeforeTheDecode) {
  WriteWholeFile(Work("zero.png"), ZeroRowsPng(4000));
  WriteWholeFile(Work("runs.bmp"), EmptyRle4Bmp(8192));
  MakeImage("photo.jpg", 64, 48);
  MakeImage("large.jpg", 2000, 1500);
  const Texts names = WorkNames();
  const std::string allows = "; ORVANE_MEMORY_LIMIT allows ";
  const struct {
    const char *limit;
    Texts args;
    std::string first, cause;
  } cases[] = {
      {"100M", {"-r", "90", "zero.png"}, "Couldn't open input file: zero.png",
       "Loading it takes 130 MB" + allows + "100 MB."},
      {"100m", {"-r", "90", "runs.bmp"},
       "Option -r 90 failed: its 8192 x 8192 image, the one before it and "
       "the library's working copies take 202 MB" + allows + "100 MB.",
       ""},
      // The library's shears of a turn, once left out: 27 MB were costed.
      {"40M", {"-r", "33", "large.jpg"},
       "Option -r 33 failed: its 2496 x 2349 image, the one before it and "
       "the library's working copies take 44 MB" + allows + "40 MB.",
       ""},
      {"1000000", {"-lossless", "-fh", "photo.jpg"},
       "Couldn't open input file: photo.jpg",
       "The lossless transform takes 2 MB" + allows + "1 MB."},
      {"100x", {"photo.jpg"}, "ORVANE_MEMORY_LIMIT=100x is not understood.",
       "Give it in bytes, or with K, M or G after the number for thousands, "
       "millions or billions of bytes (100M)."},
  };
  for (const auto &c : cases) {
    env_.push_back(std::string("ORVANE_MEMORY_LIMIT=") + c.limit);
    ExpectWarning(Orvane(c.args), c.first, c.cause);
    env_.pop_back();
    EXPECT_EQ(names, WorkNames()) << c.limit;
  }
  env_.push_back("ORVANE_THREADS=0");  // the threads are bounded as plainly
  ExpectWarning(Orvane({"photo.jpg"}), "ORVANE_THREADS=0 is not understood.",
                "Give the most threads one photo may use, a whole number "
                "from 1 (1: one thread).");
  env_.back() = "ORVANE_MEMORY_LIMIT=100MB";
  EXPECT_EQ(0, Orvane({"-r", "90", "-o", "out.png", "photo.jpg"}).status);
  EXPECT_EQ(0, Orvane({"-lossless", "-fh", "photo.jpg"}).status);
}

// A JPEG resized first is costed at the fraction of its size it is decoded
// at: a thumbnail of a photo too large to decode in full still works.
TEST_F(Faults, ThumbnailOfAPhotoTooLargeToDecodeInFull) {
  SKIP_FOR_WINDOWS_PROGRAM("Wine alone needs more than this limit allows");
  MakeImage("large.jpg", 12000, 8000);  // 288 MB decoded in full
  LimitProgramMemory(150);
  EXPECT_EQ(0, Orvane({"-w", "800", "-o", "small.jpg", "large.jpg"}).status);
  EXPECT_EQ(std::make_pair(800u, 533u), SizeOf("small.jpg"));
  ExpectWarning(Orvane({"-fh", "-c", "0", "0", "12000", "8000", "-w", "800",
                        "-o", "full.jpg", "large.jpg"}),
                "Couldn't open input file: large.jpg");
  ExpectOnlyNames({"large.jpg", "small.jpg"});
}

// A flip that runs out of memory ends the run; it once left the image as it
// was and saved that with status 0. A 4-bit image flips through an 8-bit
// copy: its 64 MB of pixels load within the limit, the copy's 128 MB don't.
TEST_F(Faults, FlipWithoutMemoryFailsAndSavesNothing) {
  SKIP_FOR_WINDOWS_PROGRAM("Wine alone needs more than this limit allows");
  FIBITMAP *plain = FreeImage_Allocate(16000, 8000, 4);
  ASSERT_NE(nullptr, plain);
  bool made = FreeImage_Save(FIF_BMP, plain, Work("wide.bmp").c_str(), 0);
  FreeImage_Unload(plain);
  ASSERT_TRUE(made);
  std::string photo = ReadWholeFile(Work("wide.bmp"));
  LimitProgramMemory(200);
  ExpectWarning(Orvane({"-fh", "-o", "out.bmp", "wide.bmp"}),
                "Option -fh failed: the image can't be flipped.");
  EXPECT_TRUE(photo == ReadWholeFile(Work("wide.bmp")));  // 64 MB: no diff
  ExpectOnlyNames({"wide.bmp"});
}
#endif

}  // namespace
