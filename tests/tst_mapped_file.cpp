#include "exchange/mapped_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <unistd.h>

using kav::MappedFile;

namespace {

// A file of `size` bytes of '7' in the temporary folder, open for reading
// and writing, removed at once so that nothing is left behind.
int TempFile(std::size_t size)
{
    std::string name = testing::TempDir() + "kav_mapped_XXXXXX";
    const int fd = ::mkstemp(name.data());
    ::unlink(name.c_str());
    const std::string text(size, '7');
    if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        std::abort();
    return fd;
}

// Sums the bytes of [from, to) of the mapping, guarded.
bool Touch(const MappedFile& mapped, std::size_t from, std::size_t to, long& sum)
{
    return mapped.Guarded([&] {
        for (std::size_t i = from; i < to; ++i)
            sum += mapped.Bytes()[i];
    });
}

} // namespace

// A file that ends on a page boundary still has its tail to read after it.
TEST(MappedFile, GivesTheFileAndATailToReadAfterIt)
{
    const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    for (const std::size_t size : {std::size_t{0}, std::size_t{100}, 2 * page}) {
        const int fd = TempFile(size);
        MappedFile mapped;
        ASSERT_TRUE(mapped.Map(fd, size).Ok()) << size;
        long sum = 0;
        EXPECT_TRUE(Touch(mapped, 0, size + MappedFile::kTail, sum)) << size;
        EXPECT_GE(sum, static_cast<long>('7' * size)) << size;
        ::close(fd);
    }
}

// Another process cutting the file short must cost a read, not the program;
// and the guard works again after it caught a fault.
TEST(MappedFile, AFileCutShortUnderItFailsTheReadThatTouchesTheLostPages)
{
    const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const int fd = TempFile(4 * page);
    MappedFile mapped;
    ASSERT_TRUE(mapped.Map(fd, 4 * page).Ok());
    mapped.Release(0, 4 * page);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(page)), 0);
    long sum = 0;
    EXPECT_FALSE(Touch(mapped, 0, 4 * page, sum));
    EXPECT_TRUE(Touch(mapped, 0, page, sum));
    EXPECT_FALSE(Touch(mapped, 2 * page, 2 * page + 1, sum));
    EXPECT_TRUE(Touch(mapped, 0, 1, sum));
    ::close(fd);
}

// A fault outside a guarded read is not swallowed: it ends the program as
// it would without the guard (by SIGBUS, or by a sanitizer's report).
TEST(MappedFileDeathTest, AFaultOutsideTheGuardStillEndsTheProgram)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    EXPECT_DEATH(
        {
            const int fd = TempFile(2 * page);
            MappedFile mapped;
            if (!mapped.Map(fd, 2 * page).Ok() || ::ftruncate(fd, 0) != 0)
                std::exit(0);
            long sum = 0;
            Touch(mapped, 0, 1, sum); // the guard has been used
            sum += *static_cast<const volatile unsigned char*>(mapped.Bytes() + page);
            std::exit(0); // survived: the guard swallowed it
        },
        "");
}
