#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "modules/file.h"

namespace {

std::string withExtension(const char* name, const char* extension) {
    char buffer[64];
    snprintf(buffer, sizeof buffer, "%s", name);
    EXPECT_EQ(addDefaultExtension(buffer, extension, sizeof buffer), 1);
    return buffer;
}

TEST(AddDefaultExtension, OnlyADotInTheLastComponentCounts) {
    EXPECT_EQ(withExtension("song", "wav"), "song.wav");
    EXPECT_EQ(withExtension("a.b/c", "txt"), "a.b/c.txt");
    EXPECT_EQ(withExtension("a.b\\c", "txt"), "a.b\\c.txt");
    EXPECT_EQ(withExtension("x.y", "wav"), "x.y");
    EXPECT_EQ(withExtension("name.", "wav"), "name.");
    EXPECT_EQ(withExtension(".hidden", "wav"), ".hidden");
    EXPECT_EQ(withExtension("dir/.hidden", "wav"), "dir/.hidden");
    EXPECT_EQ(withExtension("dir/", "wav"), "dir/.wav");
    EXPECT_EQ(withExtension("", "wav"), ".wav");
}

TEST(AddDefaultExtension, RefusesAResultThatDoesNotFit) {
    char buffer[16];
    memset(buffer, 'G', sizeof buffer);
    strcpy(buffer, "abcdefghij");  // 10 characters; ".wav" and the NUL need 5 more: 15 fits
    EXPECT_EQ(addDefaultExtension(buffer, "wav", 15), 1);
    EXPECT_STREQ(buffer, "abcdefghij.wav");
    EXPECT_EQ(buffer[15], 'G');

    memset(buffer, 'G', sizeof buffer);
    strcpy(buffer, "abcdefghijk");  // 11 characters need 16 bytes
    EXPECT_EQ(addDefaultExtension(buffer, "wav", 15), 0);
    EXPECT_STREQ(buffer, "abcdefghijk");
    EXPECT_EQ(buffer[12], 'G');
    EXPECT_EQ(addDefaultExtension(buffer, "wav", 16), 1);
    EXPECT_STREQ(buffer, "abcdefghijk.wav");

    // A name that already has an extension needs no room.
    strcpy(buffer, "abcdefghi.jk");
    EXPECT_EQ(addDefaultExtension(buffer, "wav", 13), 1);
    EXPECT_STREQ(buffer, "abcdefghi.jk");
}

TEST(NamesEqualIgnoreCase, CaseIsIgnoredPrefixesDiffer) {
    EXPECT_EQ(namesEqualIgnoreCase("In.WAV", "in.wav"), 1);
    EXPECT_EQ(namesEqualIgnoreCase("a.wav", "A.WAV"), 1);
    EXPECT_EQ(namesEqualIgnoreCase("in", "in.wav"), 0);
    EXPECT_EQ(namesEqualIgnoreCase("in.wav", "in"), 0);
    EXPECT_EQ(namesEqualIgnoreCase("", ""), 1);
    EXPECT_EQ(namesEqualIgnoreCase("", "a"), 0);
    EXPECT_EQ(namesEqualIgnoreCase("in.wav", "in.txt"), 0);
    EXPECT_EQ(namesEqualIgnoreCase("\xe9t\xe9", "\xe9T\xe9"), 1);  // bytes above 127 are safe
}

TEST(StripExtension, CutsAtTheFirstDotAnywhere) {
    char target[64];
    EXPECT_EQ(stripExtension("song.wav", target, sizeof target), 4);
    EXPECT_STREQ(target, "song");
    EXPECT_EQ(stripExtension("a.b/c.d", target, sizeof target), 1);
    EXPECT_STREQ(target, "a");
    EXPECT_EQ(stripExtension("./dir/file.wav", target, sizeof target), 0);
    EXPECT_STREQ(target, "");
    EXPECT_EQ(stripExtension("plain", target, sizeof target), -1);
    EXPECT_STREQ(target, "plain");
}

TEST(StripExtension, NeverWritesPastTheTarget) {
    char target[8];
    memset(target, 'G', sizeof target);
    EXPECT_EQ(stripExtension("longname.wav", target, 6), -1);  // the dot was cut off with the rest
    EXPECT_STREQ(target, "longn");
    EXPECT_EQ(target[6], 'G');
    EXPECT_EQ(stripExtension("ab.cdefgh", target, 6), 2);
    EXPECT_STREQ(target, "ab");
    EXPECT_EQ(stripExtension("x", target, 0), -1);
}

TEST(FileExists, ReadableFilesOnly) {
    char name[] = "/tmp/orvalix_exists_XXXXXX";
    int handle = mkstemp(name);
    ASSERT_GE(handle, 0);
    close(handle);
    EXPECT_EQ(fileExists(name), 1);
    remove(name);
    EXPECT_EQ(fileExists(name), 0);
    FILE* created = fopen(name, "rb");
    EXPECT_EQ(created, nullptr);  // asking did not create the file
    if (created != nullptr) {
        fclose(created);
    }
    EXPECT_EQ(fileExists("/nonexistent-folder/none.wav"), 0);
}

}  // namespace
