#include "trace/fileutil.h"
#include "trace/posixemu.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "testsupport.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

bool Exists(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

TEST(IndexLetter, CountsFromA)
{
    EXPECT_EQ(IndexLetter(0), 'a');
    EXPECT_EQ(IndexLetter(2), 'c');
    EXPECT_EQ(IndexLetter(16), 'q');
}

TEST(LongFile, ReadCountsWholeValuesOnly)
{
    TempDir dir("longfile");
    struct Case {
        size_t bytes;
        int16_t count;
    } cases[] = {{8, 2}, {6, 0}, {4004, 1000}, {4008, 1000}, {0, 0}, {3, 0}};
    for (size_t i = 0; i < std::size(cases); ++i) {
        std::string path = dir.file(std::string("f").append(std::to_string(i)));
        std::string data(cases[i].bytes, '\0');
        for (size_t b = 0; b < data.size(); ++b)
            data[b] = static_cast<char>(b % 4 == 3 ? b / 4 : 0);
        WriteFile(path, data);
        std::vector<int32_t> values(kLongFileMax, -7);
        int16_t count = -1;
        ReadLongFile(path.c_str(), values.data(), &count);
        EXPECT_EQ(count, cases[i].count) << "case " << i;
        if (count >= 2) {
            EXPECT_EQ(values[1], 1) << "case " << i;
        }
    }
    int16_t count = -1;
    std::vector<int32_t> values(kLongFileMax);
    ReadLongFile(dir.file("missing").c_str(), values.data(), &count);
    EXPECT_EQ(count, 0);
}

TEST(LongFile, WriteIsBigEndianAndRoundTrips)
{
    TempDir dir("longfile");
    std::string path = dir.file("v.inf");
    WriteFile(path, "old content that is longer than eight bytes");
    const int32_t values[] = {1, 65536, -2};
    int flag = 0;
    WriteLongFile(path.c_str(), values, 2, &flag);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(ReadFile(path), std::string("\0\0\0\1\0\1\0\0", 8));
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    WriteLongFile(path.c_str(), values, 3, &flag);
    int32_t back[kLongFileMax];
    int16_t count = 0;
    ReadLongFile(path.c_str(), back, &count);
    ASSERT_EQ(count, 3);
    EXPECT_EQ(back[2], -2);

    WriteLongFile(dir.file("no/such/dir").c_str(), values, 1, &flag);
    EXPECT_EQ(flag, 0);
}

TEST(FileOps, RemoveReplaceRename)
{
    TempDir dir("fileops");
    int flag = 0;
    FileRemove(dir.file("missing").c_str(), &flag);
    EXPECT_EQ(flag, 1) << "a missing file counts as removed";

    WriteFile(dir.file("a"), "A");
    EXPECT_EQ(FileReplace(dir.file("a").c_str(), dir.file("b").c_str()), 1) << "onto a missing target";
    EXPECT_EQ(ReadFile(dir.file("b")), "A");
    EXPECT_FALSE(Exists(dir.file("a")));

    WriteFile(dir.file("c"), "C");
    EXPECT_EQ(FileReplace(dir.file("c").c_str(), dir.file("b").c_str()), 1);
    EXPECT_EQ(ReadFile(dir.file("b")), "C");

    // A rename that fails keeps the old target.
    testsupport::CaptureFd captured(2);
    EXPECT_EQ(FileReplace(dir.file("gone").c_str(), dir.file("b").c_str()), 0);
    std::string err = captured.Text();
    EXPECT_EQ(ReadFile(dir.file("b")), "C");
    EXPECT_NE(err.find("can't rename " + dir.file("gone") + " to " + dir.file("b") + ", errno=2\n"),
              std::string::npos)
        << err;

    FileRename(dir.file("b").c_str(), dir.file("d").c_str(), &flag);
    EXPECT_EQ(flag, 1);
    FileRename(dir.file("b").c_str(), dir.file("d").c_str(), &flag);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(FileRenamePlain(dir.file("d").c_str(), dir.file("e").c_str()), 0);
    EXPECT_EQ(FileUnlink(dir.file("e").c_str()), 0);
    EXPECT_EQ(FileUnlink(dir.file("e").c_str()), -1);
}

TEST(FileOps, DeleteShellRunsNoCommand)
{
    TempDir dir("delshell");
    std::string odd = dir.file("x; touch y");
    WriteFile(odd, "x");
    WriteFile(dir.file("keep"), "k");
    EXPECT_EQ(FileDeleteShell(odd.c_str()), 0);
    EXPECT_FALSE(Exists(odd));
    EXPECT_FALSE(Exists(dir.file("y")));
    EXPECT_TRUE(Exists(dir.file("keep")));
    EXPECT_EQ(FileDeleteShell(odd.c_str()), -1);
    std::string pattern = dir.file("*");
    EXPECT_EQ(FileDeleteShell(pattern.c_str()), -1) << "no wildcard expansion";
    EXPECT_TRUE(Exists(dir.file("keep")));
}

TEST(FileOps, CopyReportsWriteFailure)
{
    TempDir dir("copy");
    std::string big(20000, 'z');
    WriteFile(dir.file("src"), big);
    int flag = 0;
    FileCopy(dir.file("src").c_str(), dir.file("dst").c_str(), &flag);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(ReadFile(dir.file("dst")), big);

    // Exactly one block: the copy must not stop at a full first read.
    std::string block(8192 * 2, 'q');
    WriteFile(dir.file("src2"), block);
    FileCopy(dir.file("src2").c_str(), dir.file("dst2").c_str(), &flag);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(ReadFile(dir.file("dst2")), block);

    FileCopy(dir.file("missing").c_str(), dir.file("dst3").c_str(), &flag);
    EXPECT_EQ(flag, 0);
    EXPECT_FALSE(Exists(dir.file("dst3")));

    if (Exists("/dev/full")) {
        FileCopy(dir.file("src").c_str(), "/dev/full", &flag);
        EXPECT_EQ(flag, 0) << "a failed write is a failed copy";
        EXPECT_EQ(FileCopyStream(dir.file("src").c_str(), "/dev/full"), -1);
        EXPECT_EQ(errno, ENOSPC);
    }
    EXPECT_EQ(FileCopyStream(dir.file("src").c_str(), dir.file("dst4").c_str()), 0);
    EXPECT_EQ(ReadFile(dir.file("dst4")), big);
    EXPECT_EQ(FileCopyStream(dir.file("missing").c_str(), dir.file("dst5").c_str()), -1);
}

TEST(FileOps, OpenReadRefusesLongPath)
{
    TempDir dir("openread");
    WriteFile(dir.file("f"), "data");
    FILE *stream = nullptr;
    int flag = 0;
    EXPECT_EQ(FileOpenRead(&stream, dir.file("f").c_str(), &flag), 1);
    EXPECT_EQ(FileIsOpen(&stream), 1);
    // Reopening the same variable on another file.
    WriteFile(dir.file("g"), "other");
    EXPECT_EQ(FileOpenRead(&stream, dir.file("g").c_str(), &flag), 1);
    char buf[8] = {};
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(fread(buf, 1, 5, stream), 5u);
    EXPECT_STREQ(buf, "other");
    FileClose(&stream);
    EXPECT_EQ(stream, nullptr);
    EXPECT_EQ(FileIsOpen(&stream), 0);

    // A path of 256 characters whose first 255 name an existing file must not open that file.
    std::string prefix = dir.path() + "/";
    std::string name255(255 - prefix.size(), 'n');
    WriteFile(prefix + name255, "wrong file");
    std::string longPath = prefix + name255 + "x";
    ASSERT_EQ(longPath.size(), 256u);
    EXPECT_EQ(FileOpenRead(&stream, longPath.c_str(), &flag), 0);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(stream, nullptr);
    EXPECT_EQ(FileOpenRead(&stream, (prefix + name255).c_str(), &flag), 1);
    FileClose(&stream);

    EXPECT_EQ(FileOpenWrite(&stream, dir.file("w").c_str(), &flag), 1);
    fputs("written", stream);
    FileClose(&stream);
    EXPECT_EQ(ReadFile(dir.file("w")), "written");
    EXPECT_EQ(FileOpenWrite(&stream, longPath.c_str(), &flag), 0);
}

TEST(FileOps, ReadAtWriteAtAppend)
{
    TempDir dir("rw");
    std::string path = dir.file("f");
    int flag = 0;
    FileWriteNew(path.c_str(), 6, "abcdef", &flag);
    EXPECT_EQ(flag, 1);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    FileWriteAt(path.c_str(), 2, 2, "XY", &flag);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(ReadFile(path), "abXYef");
    FileWriteAt(dir.file("missing").c_str(), 2, 2, "XY", &flag);
    EXPECT_EQ(flag, 0) << "an offset write needs an existing file";

    EXPECT_EQ(FileAppendBytes(path.c_str(), 3, "ghi", &flag), 0);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(ReadFile(path), "abXYefghi");
    EXPECT_EQ(FileAppendBytes(dir.file("no/dir").c_str(), 1, "x", &flag), -1);
    EXPECT_EQ(flag, 0);

    size_t count = 0;
    char buf[16] = {};
    FileReadAt(path.c_str(), 0, 0, buf, &count, &flag);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(count, 9u) << "length 0 reports the size";
    FileReadAt(path.c_str(), 7, 10, buf, &count, &flag);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(std::string(buf, count), "hi");
    FileReadAt(dir.file("missing").c_str(), 0, 4, buf, &count, &flag);
    EXPECT_EQ(flag, 0);

    size_t size = 1;
    char *all = nullptr;
    FileReadAll(path.c_str(), &size, &all, &flag);
    ASSERT_EQ(flag, 1);
    EXPECT_EQ(std::string(all, size), "abXYefghi");
    free(all);
    FileReadAll(dir.file("missing").c_str(), &size, &all, &flag);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(all, nullptr);

    FILE *f = fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(FileSeek(f, 4), 1);
    EXPECT_EQ(FileTell(f), 4);
    EXPECT_EQ(FileSeek(f, -1), 0);
    fclose(f);
}

TEST(FileReadAll, SizeFitsTheBlockWhileTheFileGrows)
{
    // Another thread switches the file between empty and 4096 bytes while it is read: whatever
    // sizes the read sees, the size reported fits in the block handed out.
    TempDir dir("readall");
    const std::string path = dir.file("growing");
    WriteFile(path, "");
    int fd = open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (off_t length = 4096; !stop.load(); length = 4096 - length) {
            if (ftruncate(fd, length) != 0)
                break;
        }
    });
    int reads = 0;
    size_t worst = 0;
    size_t block = 0;
    for (; reads < 200000 && worst <= block; ++reads) {
        size_t size = 0;
        char *all = nullptr;
        int flag = 0;
        FileReadAll(path.c_str(), &size, &all, &flag);
        if (flag) {
            worst = size;
            block = malloc_usable_size(all);
        }
        free(all);
    }
    stop.store(true);
    writer.join();
    close(fd);
    EXPECT_LE(worst, block) << "after " << reads << " reads";
}

// Every operation that creates a file makes it readable and writable by the owner only,
// whatever the umask lets through; a file that is only truncated or appended to keeps its mode.
TEST(FileOps, NewFilesAreTheOwnersOnly)
{
    TempDir dir("modes");
    WriteFile(dir.file("src"), "data");
    using Creator = std::function<bool(const std::string &path)>;
    auto openWrite = [](const std::string &path, FILE *stream) {
        int flag = 0;
        FileOpenWrite(&stream, path.c_str(), &flag);
        bool written = stream != nullptr && fputs("x", stream) >= 0;
        FileClose(&stream);
        return flag == 1 && written;
    };
    const std::string src = dir.file("src");
    struct Case {
        const char *name;
        Creator create;
        bool replaces = false;  // removes an existing file first
    } cases[] = {
        {"FileOpenWrite", [&](const std::string &p) { return openWrite(p, nullptr); }},
        {"FileOpenWrite reopening a stream",
         [&](const std::string &p) { return openWrite(p, fopen(src.c_str(), "rb")); }},
        {"FileCopyStream", [&](const std::string &p) { return FileCopyStream(src.c_str(), p.c_str()) == 0; }},
        {"FileCopy",
         [&](const std::string &p) {
             int flag = 0;
             FileCopy(src.c_str(), p.c_str(), &flag);
             return flag == 1;
         }},
        {"FileWriteNew",
         [](const std::string &p) {
             int flag = 0;
             FileWriteNew(p.c_str(), 1, "x", &flag);
             return flag == 1;
         }},
        {"FileAppendBytes",
         [](const std::string &p) {
             int flag = 0;
             return FileAppendBytes(p.c_str(), 1, "x", &flag) == 0 && flag == 1;
         }},
        {"WriteLongFile",
         [](const std::string &p) {
             const int32_t one = 1;
             int flag = 0;
             WriteLongFile(p.c_str(), &one, 1, &flag);
             return flag == 1;
         },
         true},
    };
    mode_t umaskBefore = umask(022);
    for (size_t i = 0; i < std::size(cases); ++i) {
        std::string fresh = dir.file("new" + std::to_string(i));
        ASSERT_TRUE(cases[i].create(fresh)) << cases[i].name;
        struct stat st;
        ASSERT_EQ(stat(fresh.c_str(), &st), 0) << cases[i].name;
        EXPECT_EQ(st.st_mode & 0777, 0600u) << cases[i].name;

        std::string old = dir.file("old" + std::to_string(i));
        WriteFile(old, "old", 0640);
        ASSERT_TRUE(cases[i].create(old)) << cases[i].name;
        ASSERT_EQ(stat(old.c_str(), &st), 0) << cases[i].name;
        EXPECT_EQ(st.st_mode & 0777, cases[i].replaces ? 0600u : 0640u) << cases[i].name << ", existing file";
    }
    umask(umaskBefore);
}

TEST(FileOps, PipesAndLinks)
{
    TempDir dir("pipe");
    FILE *stream = nullptr;
    int flag = 0;
    EXPECT_EQ(PipeOpen(&stream, "echo piped", 0, &flag), 1);
    char buf[32] = {};
    ASSERT_NE(fgets(buf, sizeof buf, stream), nullptr);
    EXPECT_STREQ(buf, "piped\n");
    PipeClose(&stream, 0, 0, &flag);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(stream, nullptr);
    PipeClose(&stream, 0, 0, &flag);
    EXPECT_EQ(flag, 1) << "no stream counts as closed";
    EXPECT_EQ(PipeOpen(&stream, "exit 3", 0, &flag), 1);
    PipeClose(&stream, 0, 0, &flag);
    EXPECT_EQ(flag, 0);

    WriteFile(dir.file("f"), "x");
    EXPECT_EQ(FileLink(dir.file("f").c_str(), dir.file("l").c_str(), &flag), 1);
    struct stat a, b;
    ASSERT_EQ(stat(dir.file("f").c_str(), &a), 0);
    ASSERT_EQ(stat(dir.file("l").c_str(), &b), 0);
    EXPECT_EQ(a.st_ino, b.st_ino);
    EXPECT_EQ(a.st_nlink, 2u);
    EXPECT_EQ(FileLink(dir.file("f").c_str(), dir.file("l").c_str(), &flag), 0);
    EXPECT_EQ(FileWritable(dir.file("f").c_str()), 1);
    EXPECT_EQ(FileWritable(dir.file("no/such").c_str()), 0);
    EXPECT_EQ(FileStat(dir.file("f").c_str(), &a), 0);
    EXPECT_EQ(FileStat(dir.file("none").c_str(), &a), -1);
}

TEST(DirStream, CountsAndSeeks)
{
    TempDir dir("dirstream");
    for (const char *name : {"one", "two", "three"})
        WriteFile(dir.file(name), name);
    FileDir *d = DirOpen(dir.path().c_str());
    ASSERT_NE(d, nullptr);
    std::vector<std::string> names;
    while (FileDirEntry *e = DirRead(d))
        names.push_back(e->d_name);
    std::set<std::string> got(names.begin(), names.end());
    EXPECT_EQ(got, (std::set<std::string>{".", "..", "one", "two", "three"}));
    EXPECT_EQ(DirTell(d), 5);

    DirRewind(d);
    EXPECT_EQ(DirTell(d), 0);
    for (int i = 0; i < 3; ++i)
        ASSERT_NE(DirRead(d), nullptr);
    EXPECT_EQ(DirTell(d), 3);
    DirSeek(d, 2);
    EXPECT_EQ(DirTell(d), 2);
    FileDirEntry *third = DirRead(d);
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(third->d_name, names[2]) << "seekdir to 2 then readdir gives the third entry again";
    EXPECT_EQ(DirClose(d), 0);

    FileDir *missing = DirOpen(dir.file("nothing").c_str());
    ASSERT_NE(missing, nullptr) << "a missing directory is an empty listing";
    EXPECT_EQ(DirRead(missing), nullptr);
    EXPECT_EQ(DirTell(missing), 0);
    EXPECT_EQ(DirClose(missing), 0);

    EXPECT_EQ(DirTell(nullptr), -1);
    EXPECT_EQ(DirClose(nullptr), -1);
    EXPECT_EQ(DirRead(nullptr), nullptr);
    DirRewind(nullptr);
}

TEST(PosixFunctions, WhatCallersRelyOn)
{
    TempDir dir("posix");
    EXPECT_EQ(link(dir.file("missing").c_str(), dir.file("new").c_str()), -1);
    EXPECT_FALSE(Exists(dir.file("new")));
    EXPECT_EQ(sleep(0), 0u);
    struct utsname info;
    ASSERT_EQ(uname(&info), 0);
    EXPECT_NE(info.nodename[0], '\0');
}

}  // namespace
