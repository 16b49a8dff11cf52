#include "io/output_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/io/temp_dir.h"

namespace {

class OutputFileTest : public ::testing::Test {
protected:
    std::string path(const std::string& name) const { return tmp.file(name); }
    std::vector<std::string> files() const { return tmp.entries(); }
    static std::string contents(const std::string& name) {
        std::ifstream in(name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    TempDir tmp;
};

} // namespace

TEST_F(OutputFileTest, TheFileAppearsOnlyWhenCommitted) {
    std::ofstream(path("a.csv")) << "older";
    {
        OutputFile file(path("a.csv"));
        ASSERT_TRUE(file.isOpen());
        ASSERT_TRUE(file.write("new rows\n", 9));
        EXPECT_EQ(contents(path("a.csv")), "older");  // the rows go to a temporary name meanwhile
        EXPECT_EQ(files().size(), 2u);
        ASSERT_TRUE(file.commit());
    }
    EXPECT_EQ(contents(path("a.csv")), "new rows\n");
    EXPECT_EQ(files(), std::vector<std::string>{"a.csv"});

    {
        OutputFile abandoned(path("a.csv"));
        ASSERT_TRUE(abandoned.write("half", 4));
    }  // never committed: the temporary file goes, the older file stays
    EXPECT_EQ(contents(path("a.csv")), "new rows\n");
    EXPECT_EQ(files(), std::vector<std::string>{"a.csv"});
}

TEST_F(OutputFileTest, FailuresNameThePathAndTheReason) {
    OutputFile missing(path("no/such/folder/a.csv"));
    EXPECT_FALSE(missing.isOpen());
    EXPECT_EQ(missing.error(), path("no/such/folder/a.csv") + ": No such file or directory");

    OutputFile folder(tmp.path());
    EXPECT_FALSE(folder.isOpen());
    EXPECT_EQ(folder.error(), tmp.path() + ": Is a directory");

    OutputFile full("/dev/full");  // a device is written directly, never replaced
    ASSERT_TRUE(full.isOpen());
    EXPECT_FALSE(full.write("x", 1));
    EXPECT_EQ(full.error(), "/dev/full: No space left on device");
    EXPECT_FALSE(full.commit());
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/full"));
    EXPECT_TRUE(files().empty());
}

TEST_F(OutputFileTest, ProblemsAreFoundBeforeAnyWork) {
    EXPECT_EQ(outputFileProblem(path("a.csv")), "");
    EXPECT_EQ(outputFileProblem("/dev/null"), "");
    EXPECT_EQ(outputFileProblem(path("no/such/folder/a.csv")), path("no/such/folder/a.csv") + ": No such file or directory");
    EXPECT_EQ(outputFileProblem(tmp.path()), tmp.path() + ": Is a directory");
    EXPECT_EQ(outputFileProblem(""), ": No such file or directory");
    EXPECT_NE(outputFileProblem("/proc/x.csv"), "");
    EXPECT_TRUE(files().empty());  // the trial leaves nothing behind
}
