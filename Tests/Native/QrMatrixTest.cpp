#include "Window/QrMatrix.h"
#include "Window/Links.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace Velotrix {
namespace {

// Renders each matrix with its quiet zone as a binary PGM, four pixels a module, and answers what
// one run of zbarimg reads from them: one line per symbol found, in file order.
std::vector<std::string> ScanAll(const std::vector<QrRows>& symbols) {
    std::vector<std::string> paths;
    std::vector<std::string> lines;
    bool written = true;
    for (const QrRows& rows : symbols) {
        char path[] = "/tmp/velotrix-qr-XXXXXX.pgm";
        const int fd = mkstemps(path, 4);
        if (fd < 0) {
            written = false;
            break;
        }
        paths.push_back(path);
        constexpr int Module = 4;
        constexpr int Side = (QrSize + 8) * Module;
        std::string image = "P5\n" + std::to_string(Side) + " " + std::to_string(Side) + "\n255\n";
        for (int y = 0; y < Side; ++y) {
            for (int x = 0; x < Side; ++x) {
                const int r = y / Module - 4;
                const int c = x / Module - 4;
                const bool dark = r >= 0 && r < QrSize && c >= 0 && c < QrSize && rows[r][c] == '1';
                image.push_back(static_cast<char>(dark ? 0 : 255));
            }
        }
        written = write(fd, image.data(), image.size()) == static_cast<ssize_t>(image.size()) && written;
        close(fd);
    }
    if (written) {
        std::string command = "zbarimg -q --raw";
        for (const std::string& path : paths) {
            command += " " + path;
        }
        command += " 2>/dev/null";
        if (FILE* pipe = popen(command.c_str(), "r")) {
            std::string text;
            char buffer[256];
            size_t n;
            while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
                text.append(buffer, n);
            }
            pclose(pipe);
            for (size_t start = 0; start < text.size();) {
                const size_t end = text.find('\n', start);
                lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
                start = end == std::string::npos ? text.size() : end + 1;
            }
        }
    }
    for (const std::string& path : paths) {
        unlink(path.c_str());
    }
    return lines;
}

QrRows StoredRows() {
    QrRows rows;
    for (int r = 0; r < QrSize; ++r) {
        rows[r] = StoreLinkQr[r];
    }
    return rows;
}

TEST(QrMatrixTest, StoredMatrixIsTheStoreLinkEncodedNow) {
    QrRows encoded;
    ASSERT_TRUE(EncodeQr(StoreLink, QrLevel::M, encoded));
    const QrRows stored = StoredRows();
    for (int r = 0; r < QrSize; ++r) {
        EXPECT_EQ(stored[r], encoded[r]) << "row " << r;
    }
}

TEST(QrMatrixTest, StoredMatrixScansToExactlyTheStoreLink) {
    EXPECT_EQ(ScanAll({StoredRows()}), std::vector<std::string>{StoreLink});
}

TEST(QrMatrixTest, EveryLevelAndMaskScansBackToTheText) {
    struct Case {
        QrLevel level;
        std::string text;
    };
    const std::vector<Case> cases = {
        {QrLevel::L, std::string(53, 'L')},
        {QrLevel::L, "https://apps.apple.com/app/velotrix/id6741239571?pt=1"},
        {QrLevel::M, StoreLink},
        {QrLevel::M, "0123456789abcdefghijklmnopqrstuvwxyz!#$%&("},
        {QrLevel::Q, WebLink},
        {QrLevel::Q, std::string(32, 'q')},
        {QrLevel::H, "HELLO"},
        {QrLevel::H, "the quick brown fox jump"},
    };
    for (const Case& c : cases) {
        std::vector<QrRows> symbols(8);
        for (int mask = 0; mask < 8; ++mask) {
            ASSERT_TRUE(EncodeQrWithMask(c.text, c.level, mask, symbols[mask])) << c.text;
        }
        // One line per mask, in mask order; a symbol that does not scan leaves its line out.
        EXPECT_EQ(ScanAll(symbols), std::vector<std::string>(8, c.text)) << "level " << static_cast<int>(c.level);
    }
}

TEST(QrMatrixTest, RefusesTextLongerThanTheLevelHoldsAndUnknownMasks) {
    struct Case {
        QrLevel level;
        int capacity;
    };
    for (const Case c : {Case{QrLevel::L, 53}, Case{QrLevel::M, 42}, Case{QrLevel::Q, 32}, Case{QrLevel::H, 24}}) {
        QrRows rows;
        EXPECT_TRUE(EncodeQr(std::string(c.capacity, 'x'), c.level, rows)) << c.capacity;
        QrRows untouched;
        untouched[0] = "kept";
        EXPECT_FALSE(EncodeQr(std::string(c.capacity + 1, 'x'), c.level, untouched)) << c.capacity;
        EXPECT_EQ(untouched[0], "kept");
    }
    QrRows rows;
    EXPECT_FALSE(EncodeQrWithMask("x", QrLevel::M, -1, rows));
    EXPECT_FALSE(EncodeQrWithMask("x", QrLevel::M, 8, rows));
}

TEST(QrMatrixTest, PenaltyOfHandMadeMatrices) {
    auto fill = [](auto dark) {
        QrRows rows;
        for (int r = 0; r < QrSize; ++r) {
            rows[r].assign(QrSize, '0');
            for (int c = 0; c < QrSize; ++c) {
                rows[r][c] = dark(r, c) ? '1' : '0';
            }
        }
        return rows;
    };
    // One colour: every row and column is one run of 29 (3 + 24 points each, 58 lines), every one of
    // the 28 × 28 blocks is alike (3 each), and the dark share is 50 % away from half (10 steps).
    const int uniform = 58 * 27 + 28 * 28 * 3 + 100;
    EXPECT_EQ(QrPenalty(fill([](int, int) { return false; })), uniform);
    EXPECT_EQ(QrPenalty(fill([](int, int) { return true; })), uniform);
    // A checkerboard has no run, no block, no finder shape, and 421 of 841 dark is under 5 % off.
    EXPECT_EQ(QrPenalty(fill([](int r, int c) { return (r + c) % 2 == 0; })), 0);
    // Stripes of one column each: every row alternates, every column is one run; no 2 × 2 block.
    // 15 dark columns of 29 is 51.7 %, under 5 % off.
    EXPECT_EQ(QrPenalty(fill([](int, int c) { return c % 2 == 0; })), 29 * 27);
    // A lone finder shape 1011101 at columns 4-10 of row 14, light all around. Row 14: a light run
    // of 18 after it (3 + 13); the other 28 rows 27 each. Columns 4, 6, 7, 8, 10: light runs of 14
    // above and below (3 + 9 each); the other 24 columns 27 each. Blocks: all 28 × 28 but the 2 × 8
    // windows over rows 13-15 that hold a dark module. The shape with four light before it: 40.
    // Dark share 5 of 841: 9 full steps of 5 %.
    const QrRows finder = fill([](int r, int c) { return r == 14 && (c == 4 || c == 6 || c == 7 || c == 8 || c == 10); });
    const int expected = (3 + 13) + 28 * 27 + 5 * 2 * (3 + 9) + 24 * 27 + (28 * 28 - 16) * 3 + 40 + 90;
    EXPECT_EQ(QrPenalty(finder), expected);
}

TEST(QrMatrixTest, ChoosesTheFirstMaskOfLowestPenalty) {
    for (const char* text : {StoreLink, WebLink, "velotrix", "HELLO WORLD 123"}) {
        int best = -1;
        int bestScore = 0;
        QrRows bestRows;
        for (int mask = 0; mask < 8; ++mask) {
            QrRows rows;
            ASSERT_TRUE(EncodeQrWithMask(text, QrLevel::M, mask, rows));
            const int score = QrPenalty(rows);
            if (best < 0 || score < bestScore) {
                best = mask;
                bestScore = score;
                bestRows = rows;
            }
        }
        QrRows chosen;
        ASSERT_TRUE(EncodeQr(text, QrLevel::M, chosen));
        EXPECT_EQ(chosen, bestRows) << text << ": expected mask " << best;
    }
}

} // namespace
} // namespace Velotrix
