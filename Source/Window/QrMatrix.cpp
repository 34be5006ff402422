#include "Window/QrMatrix.h"

#include <algorithm>
#include <cstdlib>
#include <new>

namespace Velotrix {

// Made by EncodeQr(StoreLink, QrLevel::M); QrMatrixTest fails when the link changes without these.
const std::array<const char*, QrSize> StoreLinkQr = {
    "11111110101100100111001111111",
    "10000010111100001010001000001",
    "10111010000111101011101011101",
    "10111010100001001101001011101",
    "10111010001110010101001011101",
    "10000010011110100001101000001",
    "11111110101010101010101111111",
    "00000000100010010111000000000",
    "10110111000010000110001001011",
    "01010000100010100001111010001",
    "11001011010110100100011010110",
    "01000101000011111000000000001",
    "00001011100110011100000101100",
    "11101001010001110111001000111",
    "00101111111110100001001000111",
    "00110101000001010011100010010",
    "00100110011010001001110011010",
    "00010101011011011100010101110",
    "10011110110000010100110010100",
    "00101000000010001110000100100",
    "01100010000111000111111111100",
    "00000000111111100110100011111",
    "11111110110101001101101011010",
    "10000010101110010010100011010",
    "10111010011100111100111110100",
    "10111010111010110100110011001",
    "10111010101010101010110100101",
    "10000010001010101010110111010",
    "11111110101001101001100100010",
};

namespace {

constexpr int TotalCodewords = 70; // version 3, every level; 7 remainder bits follow them

struct LevelLayout {
    int dataCodewords; // all blocks together
    int blocks;        // of equal size at version 3
    int ecPerBlock;
    int formatBits;    // the level's two bits in the format information
};

constexpr LevelLayout Layouts[] = {
    {55, 1, 15, 1}, // L
    {44, 1, 26, 0}, // M
    {34, 2, 18, 3}, // Q
    {26, 2, 22, 2}, // H
};

struct Grid {
    bool dark[QrSize][QrSize] = {};
    bool reserved[QrSize][QrSize] = {}; // function patterns and format areas: never data, never masked
};

void SetFunction(Grid& grid, int row, int column, bool dark) {
    grid.dark[row][column] = dark;
    grid.reserved[row][column] = true;
}

void DrawFinder(Grid& grid, int centreRow, int centreColumn) {
    // The separator ring (distance 4) is light; rings at distance 0..1 and 3 are dark.
    for (int dy = -4; dy <= 4; ++dy) {
        for (int dx = -4; dx <= 4; ++dx) {
            const int row = centreRow + dy;
            const int column = centreColumn + dx;
            if (row < 0 || row >= QrSize || column < 0 || column >= QrSize) {
                continue;
            }
            const int distance = std::max(std::abs(dy), std::abs(dx));
            SetFunction(grid, row, column, distance != 2 && distance != 4);
        }
    }
}

void DrawFunctionPatterns(Grid& grid) {
    for (int i = 0; i < QrSize; ++i) {
        SetFunction(grid, 6, i, i % 2 == 0);
        SetFunction(grid, i, 6, i % 2 == 0);
    }
    DrawFinder(grid, 3, 3);
    DrawFinder(grid, 3, QrSize - 4);
    DrawFinder(grid, QrSize - 4, 3);
    // Version 3 has one alignment pattern; the others would overlap the finders.
    for (int dy = -2; dy <= 2; ++dy) {
        for (int dx = -2; dx <= 2; ++dx) {
            SetFunction(grid, 22 + dy, 22 + dx, std::max(std::abs(dy), std::abs(dx)) != 1);
        }
    }
    // Reserve the format areas now so the data skips them; their bits come with the mask.
    for (int i = 0; i < 9; ++i) {
        grid.reserved[8][i] = true;
        grid.reserved[i][8] = true;
    }
    for (int i = 0; i < 8; ++i) {
        grid.reserved[8][QrSize - 1 - i] = true;
        grid.reserved[QrSize - 1 - i][8] = true;
    }
}

std::uint8_t GfMultiply(std::uint8_t a, std::uint8_t b) {
    unsigned product = 0;
    for (int bit = 7; bit >= 0; --bit) {
        product = (product << 1) ^ ((product >> 7) * 0x11D);
        product ^= ((b >> bit) & 1u) * a;
    }
    return static_cast<std::uint8_t>(product);
}

// The error-correction codewords of one block: the remainder of data × x^n divided by the generator
// polynomial whose roots are α^0 .. α^(n-1).
void ReedSolomon(const std::uint8_t* data, int dataLength, int ecLength, std::uint8_t* out) {
    std::uint8_t generator[32] = {};
    generator[ecLength - 1] = 1;
    std::uint8_t root = 1;
    for (int i = 0; i < ecLength; ++i) {
        for (int j = 0; j < ecLength; ++j) {
            generator[j] = GfMultiply(generator[j], root);
            if (j + 1 < ecLength) {
                generator[j] ^= generator[j + 1];
            }
        }
        root = GfMultiply(root, 2);
    }
    for (int i = 0; i < ecLength; ++i) {
        out[i] = 0;
    }
    for (int k = 0; k < dataLength; ++k) {
        const std::uint8_t factor = data[k] ^ out[0];
        for (int i = 0; i + 1 < ecLength; ++i) {
            out[i] = out[i + 1];
        }
        out[ecLength - 1] = 0;
        for (int i = 0; i < ecLength; ++i) {
            out[i] ^= GfMultiply(generator[i], factor);
        }
    }
}

// Mode, count, data, terminator, padding, then the blocks' codewords interleaved.
void MakeCodewords(std::string_view data, const LevelLayout& layout, std::uint8_t (&codewords)[TotalCodewords]) {
    std::uint8_t dataWords[TotalCodewords] = {};
    int bitLength = 0;
    auto append = [&](unsigned value, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            if ((value >> i) & 1u) {
                dataWords[bitLength / 8] |= static_cast<std::uint8_t>(0x80u >> (bitLength % 8));
            }
            ++bitLength;
        }
    };
    append(0x4, 4); // byte mode
    append(static_cast<unsigned>(data.size()), 8);
    for (const char c : data) {
        append(static_cast<std::uint8_t>(c), 8);
    }
    const int capacityBits = layout.dataCodewords * 8;
    append(0, std::min(4, capacityBits - bitLength));
    bitLength = (bitLength + 7) / 8 * 8;
    // Alternating pad bytes fill the rest of the data codewords.
    for (int padIndex = bitLength / 8; padIndex < layout.dataCodewords; ++padIndex) {
        dataWords[padIndex] = (padIndex - bitLength / 8) % 2 == 0 ? 0xEC : 0x11;
    }

    const int blockData = layout.dataCodewords / layout.blocks;
    std::uint8_t ec[2][32] = {};
    for (int b = 0; b < layout.blocks; ++b) {
        ReedSolomon(dataWords + b * blockData, blockData, layout.ecPerBlock, ec[b]);
    }
    int n = 0;
    for (int i = 0; i < blockData; ++i) {
        for (int b = 0; b < layout.blocks; ++b) {
            codewords[n++] = dataWords[b * blockData + i];
        }
    }
    for (int i = 0; i < layout.ecPerBlock; ++i) {
        for (int b = 0; b < layout.blocks; ++b) {
            codewords[n++] = ec[b][i];
        }
    }
}

// Two columns at a time from the right edge, up and down in turn, skipping the vertical timing
// column; the remainder bits stay light before masking.
void PlaceCodewords(Grid& grid, const std::uint8_t (&codewords)[TotalCodewords]) {
    const int totalBits = TotalCodewords * 8;
    int i = 0;
    for (int right = QrSize - 1; right >= 1; right -= 2) {
        if (right == 6) {
            right = 5;
        }
        const bool upward = ((right + 1) & 2) == 0;
        for (int step = 0; step < QrSize; ++step) {
            const int row = upward ? QrSize - 1 - step : step;
            for (int j = 0; j < 2; ++j) {
                const int column = right - j;
                if (grid.reserved[row][column]) {
                    continue;
                }
                if (i < totalBits) {
                    grid.dark[row][column] = ((codewords[i / 8] >> (7 - i % 8)) & 1) != 0;
                    ++i;
                }
            }
        }
    }
}

bool MaskFlips(int mask, int row, int column) {
    switch (mask) {
    case 0: return (row + column) % 2 == 0;
    case 1: return row % 2 == 0;
    case 2: return column % 3 == 0;
    case 3: return (row + column) % 3 == 0;
    case 4: return (row / 2 + column / 3) % 2 == 0;
    case 5: return row * column % 2 + row * column % 3 == 0;
    case 6: return (row * column % 2 + row * column % 3) % 2 == 0;
    default: return ((row + column) % 2 + row * column % 3) % 2 == 0;
    }
}

void ApplyMask(Grid& grid, int mask) {
    for (int row = 0; row < QrSize; ++row) {
        for (int column = 0; column < QrSize; ++column) {
            if (!grid.reserved[row][column] && MaskFlips(mask, row, column)) {
                grid.dark[row][column] = !grid.dark[row][column];
            }
        }
    }
}

// Level and mask, protected by a BCH(15,5) code and XORed so that it is never all light.
void DrawFormatBits(Grid& grid, const LevelLayout& layout, int mask) {
    const unsigned data = static_cast<unsigned>(layout.formatBits << 3 | mask);
    unsigned remainder = data;
    for (int i = 0; i < 10; ++i) {
        remainder = (remainder << 1) ^ ((remainder >> 9) * 0x537);
    }
    const unsigned bits = ((data << 10) | remainder) ^ 0x5412;
    auto bit = [bits](int i) { return ((bits >> i) & 1u) != 0; };

    // Around the top-left finder: bit 0 at the top of column 8, bit 14 at the left of row 8.
    for (int i = 0; i <= 5; ++i) {
        grid.dark[i][8] = bit(i);
    }
    grid.dark[7][8] = bit(6);
    grid.dark[8][8] = bit(7);
    grid.dark[8][7] = bit(8);
    for (int i = 9; i < 15; ++i) {
        grid.dark[8][14 - i] = bit(i);
    }
    // The copy split between the other two finders.
    for (int i = 0; i < 8; ++i) {
        grid.dark[8][QrSize - 1 - i] = bit(i);
    }
    for (int i = 8; i < 15; ++i) {
        grid.dark[QrSize - 15 + i][8] = bit(i);
    }
    grid.dark[QrSize - 8][8] = true; // the dark module
}

bool ToRows(const Grid& grid, QrRows& rows) {
    try {
        QrRows made;
        for (int row = 0; row < QrSize; ++row) {
            made[row].assign(QrSize, '0');
            for (int column = 0; column < QrSize; ++column) {
                if (grid.dark[row][column]) {
                    made[row][column] = '1';
                }
            }
        }
        rows = std::move(made);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool Dark(const QrRows& rows, int row, int column) {
    const std::string& line = rows[row];
    return column < static_cast<int>(line.size()) && line[column] == '1';
}

// Runs of five or more and finder-like patterns along one line; `at(i)` reads its i-th module.
template <typename At>
int LinePenalty(At at) {
    int score = 0;
    int run = 1;
    for (int i = 1; i <= QrSize; ++i) {
        if (i < QrSize && at(i) == at(i - 1)) {
            ++run;
            continue;
        }
        if (run >= 5) {
            score += 3 + (run - 5);
        }
        run = 1;
    }
    // Outside the symbol is the light quiet zone.
    auto light = [&](int from, int to) {
        for (int i = from; i < to; ++i) {
            if (i >= 0 && i < QrSize && at(i)) {
                return false;
            }
        }
        return true;
    };
    static constexpr bool Finder[7] = {true, false, true, true, true, false, true};
    for (int start = 0; start + 7 <= QrSize; ++start) {
        bool match = true;
        for (int k = 0; k < 7 && match; ++k) {
            match = at(start + k) == Finder[k];
        }
        if (match && (light(start - 4, start) || light(start + 7, start + 11))) {
            score += 40;
        }
    }
    return score;
}

bool Encode(std::string_view data, QrLevel level, int mask, QrRows& rows) {
    const LevelLayout& layout = Layouts[static_cast<int>(level)];
    if (static_cast<int>(data.size()) > layout.dataCodewords - 2) {
        return false;
    }
    std::uint8_t codewords[TotalCodewords] = {};
    MakeCodewords(data, layout, codewords);

    Grid base;
    DrawFunctionPatterns(base);
    PlaceCodewords(base, codewords);

    if (mask >= 0) {
        Grid grid = base;
        ApplyMask(grid, mask);
        DrawFormatBits(grid, layout, mask);
        return ToRows(grid, rows);
    }
    int bestScore = 0;
    QrRows best;
    for (int candidate = 0; candidate < 8; ++candidate) {
        Grid grid = base;
        ApplyMask(grid, candidate);
        DrawFormatBits(grid, layout, candidate);
        QrRows made;
        if (!ToRows(grid, made)) {
            return false;
        }
        const int score = QrPenalty(made);
        if (candidate == 0 || score < bestScore) {
            bestScore = score;
            best = std::move(made);
        }
    }
    rows = std::move(best);
    return true;
}

} // namespace

bool EncodeQr(std::string_view data, QrLevel level, QrRows& rows) {
    return Encode(data, level, -1, rows);
}

bool EncodeQrWithMask(std::string_view data, QrLevel level, int mask, QrRows& rows) {
    if (mask < 0 || mask > 7) {
        return false;
    }
    return Encode(data, level, mask, rows);
}

int QrPenalty(const QrRows& rows) {
    int score = 0;
    for (int r = 0; r < QrSize; ++r) {
        score += LinePenalty([&](int i) { return Dark(rows, r, i); });
    }
    for (int c = 0; c < QrSize; ++c) {
        score += LinePenalty([&](int i) { return Dark(rows, i, c); });
    }
    int dark = 0;
    for (int r = 0; r < QrSize; ++r) {
        for (int c = 0; c < QrSize; ++c) {
            const bool here = Dark(rows, r, c);
            dark += here ? 1 : 0;
            if (r + 1 < QrSize && c + 1 < QrSize && here == Dark(rows, r, c + 1) && here == Dark(rows, r + 1, c) &&
                here == Dark(rows, r + 1, c + 1)) {
                score += 3;
            }
        }
    }
    // 10 points for every full 5 % that the dark share lies away from half.
    const int total = QrSize * QrSize;
    score += std::abs(dark * 20 - total * 10) / total * 10;
    return score;
}

} // namespace Velotrix
