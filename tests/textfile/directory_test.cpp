// Directory listings: which patterns give one, what it holds and in which order, and how a
// pattern that matches nothing differs from a folder that cannot be listed.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "mvb/directory.h"
#include "mvb/types.h"
#include "support/textfile_support.h"

namespace textfile_test {
namespace {

using ::testing::HasSubstr;

class Listing : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"b.csv", "a.csv", "B.csv", "a2.csv", "c.txt", ".hidden.csv",
                                 "\xC3\xA9t\xC3\xA9.csv"}) {
            writeBytes(dir_.file(name), std::string(name) + "\n");
        }
        std::filesystem::create_directory(dir_.path() / "folder.csv");
        std::filesystem::create_symlink(dir_.path() / "a.csv", dir_.path() / "link.csv");
        std::filesystem::create_symlink(dir_.path() / "folder.csv", dir_.path() / "dirlink.csv");
    }

    /// The names (with their folder part) that the listing of `pattern` gives; its error
    /// text after the last one goes to `error`.
    std::vector<std::string> list(const std::string& pattern, std::string* error) {
        MvbString text;
        MvbDirectoryListing* listing = mvbDirectoryOpen(pattern.c_str(), MVB_DIR_FILES, text);
        EXPECT_NE(listing, nullptr) << pattern;
        std::vector<std::string> names;
        if (listing == nullptr) return names;
        while (listing->moveNext()) {
            listing->getCurrentName(text);
            names.emplace_back(text.asCstr());
        }
        listing->getLastError(text);
        *error = text.asCstr();
        EXPECT_FALSE(listing->moveNext()) << "the end stays the end";
        listing->close();
        return names;
    }

    std::string in(const std::string& name) const { return dir_.file(name); }

    TempDir dir_;
};

TEST_F(Listing, HoldsMatchingRegularFilesInByteOrder) {
    struct Case {
        std::string pattern;
        std::vector<std::string> names;
    };
    const std::vector<Case> cases = {
        {"*.csv", {"B.csv", "a.csv", "a2.csv", "b.csv", "link.csv", "\xC3\xA9t\xC3\xA9.csv"}},
        {"?.csv", {"B.csv", "a.csv", "b.csv"}},
        {"[ab]*.csv", {"a.csv", "a2.csv", "b.csv"}},
        {".*.csv", {".hidden.csv"}},
        {"*.txt", {"c.txt"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> expected;
        for (const std::string& name : c.names)
            expected.push_back(in(name));
        std::string error = "unset";
        EXPECT_EQ(list(in(c.pattern), &error), expected) << c.pattern;
        EXPECT_EQ(error, "") << c.pattern;
    }
}

TEST_F(Listing, NoMatchEndsWithAnEmptyError) {
    std::string error = "unset";
    EXPECT_TRUE(list(in("*.xml"), &error).empty());
    EXPECT_EQ(error, "");
}

TEST_F(Listing, FolderThatCannotBeListedGivesItsReason) {
    struct Case {
        std::string pattern;
        std::string says;
    };
    for (const Case& c : {Case{in("a.csv/*.csv"), "is not a folder"},
                          Case{in("missing/*.csv"), "does not exist"}}) {
        std::string error;
        EXPECT_TRUE(list(c.pattern, &error).empty());
        EXPECT_THAT(error, HasSubstr(c.says)) << c.pattern;
        EXPECT_THAT(error, HasSubstr(c.pattern));
    }
}

TEST_F(Listing, PlainPathGivesNoListing) {
    MvbString error;
    EXPECT_EQ(mvbDirectoryOpen(in("a.csv").c_str(), MVB_DIR_FILES, error), nullptr);
    // Wildcards in the folder part do not make a listing either.
    EXPECT_EQ(mvbDirectoryOpen(in("*/a.csv").c_str(), MVB_DIR_FILES, error), nullptr);
}

TEST_F(Listing, OpensTheCurrentFile) {
    MvbString error;
    MvbDirectoryListing* listing = mvbDirectoryOpen(in("a*.csv").c_str(), MVB_DIR_FILES, error);
    ASSERT_NE(listing, nullptr);
    EXPECT_EQ(listing->openCurrent(MVB_OPEN_READ, -1, 0, error), nullptr)
        << "no current file before the first moveNext";
    ASSERT_TRUE(listing->moveNext());
    ASSERT_TRUE(listing->moveNext());
    MvbTxtFile* file = listing->openCurrent(MVB_OPEN_READ, -1, 0, error);
    ASSERT_NE(file, nullptr) << error.asCstr();
    EXPECT_EQ(readAllLines(file), std::vector<std::string>{"a2.csv"});
    file->close();
    listing->close();
}

TEST(ListingRelative, NameWithoutFolderListsTheCurrentFolder) {
    TempDir dir;
    writeBytes(dir.file("x1.dat"), "");
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    MvbString text;
    MvbDirectoryListing* listing = mvbDirectoryOpen("x*.dat", MVB_DIR_FILES, text);
    ASSERT_NE(listing, nullptr);
    ASSERT_TRUE(listing->moveNext());
    listing->getCurrentName(text);
    EXPECT_EQ(std::string(text.asCstr()), "x1.dat");
    listing->close();
    std::filesystem::current_path(previous);
}

}  // namespace
}  // namespace textfile_test
