// The one process-wide record of the engine.
//
// Everything Zorvan knows lives in `engine`, a single EngineState created
// zeroed at process start and never freed or copied. Every subsystem is a set
// of plain functions over it: the protocol layer keeps the game record and the
// settings here, the board layer keeps the cells, the line words and the
// incrementally maintained pattern records, the rules layer reads them, and the
// search keeps its per-ply lists and counters here. Only the transposition and
// threat-search tables are allocated separately (once, at the first board
// build).
//
// Ownership follows the think handshake: the main thread owns the record while
// the think thread is idle, the think thread from the moment a think is
// requested until it reports itself idle. The few values the main thread may
// write during a think (the stop flag and the INFO settings) are atomics.
//
// Geometry. A point is (x, y), both zero-based; x is the first number of a
// protocol move and the slow index of every 24x24 array and is bounded by
// boardHeight; y is bounded by boardWidth. The line words and the tables cover
// the boardSize square, boardSize = max(boardWidth, boardHeight); points of
// that square outside the width x height rectangle are walls.
//
// Line words. One uint64 per line and direction. The cell at position p holds
// its colour (0 empty, 1 black, 2 white, 3 wall) in bits 2p+8 and 2p+9; walls
// sit at position -1 (bits 6-7) and at position L, the line's length. The 9-cell
// window of the point at position p is (word >> 2p) & 0x3FFFF, the point itself
// in bits 8-9. The longest line (24 cells) puts its far wall in bits 56-57.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------
// Fixed sizes and values.

constexpr int maxBoardSide = 24;
constexpr int maxPoints = maxBoardSide * maxBoardSide;  // 576
constexpr int lineBufferSize = 8192;
constexpr int windowCount = 1 << 18;  // 9 cells x 2 bits
constexpr int codeWordCount = 1 << 16;
constexpr int bitTableSize = 32769;

// Directions, numbered as the nibbles of a code word.
enum Direction : int { H = 0, V = 1, D = 2, A = 3 };
constexpr int dirStepX[4] = {0, 1, -1, 1};
constexpr int dirStepY[4] = {1, 0, 1, 1};

// Cell colours; a side is black or white, the opponent of side s is 3 - s.
constexpr int empty = 0;
constexpr int black = 1;
constexpr int white = 2;
constexpr int wall = 3;

// Rule codes.
constexpr int ruleFreestyle = 0;
constexpr int ruleStandard = 1;
constexpr int ruleRenju = 2;

// The two searches INFO search chooses between: the classic one, kept exactly
// as it always played (its bench signature must not move), and the default
// one, which may depart from it where games show that a change plays better.
constexpr int searchClassic = 0;
constexpr int searchDefault = 1;

// Threat-point groups.
constexpr int groupFive = 0;
constexpr int groupOpenFour = 1;
constexpr int groupFour = 2;
constexpr int groupOpenThree = 3;
constexpr int groupDouble = 4;

// Search values. A win found with remaining depth d is winValue + d; values at
// or beyond +-mateThreshold are proven results.
constexpr int32_t winValue = 10000000;
constexpr int32_t mateThreshold = 9998848;
constexpr int32_t noValue = 20000000;  // probe miss
constexpr int32_t noBest = -1000000000;

// Search configuration, fixed.
constexpr int firstDepth = 1;
constexpr int maxDepth = 576;
constexpr uint32_t hashBuckets = 524288;
constexpr uint32_t threatHashSize = 524288;
constexpr int32_t skipKey = 1000000000;

// Undo logs of the search's makes. A make refreshes at most 2 * 5 + 1 points
// on each of its four lines, and makes nest at most one per point.
constexpr int undoPointsPerMake = 4 * 11;
constexpr int undoRecordCapacity = maxPoints * undoPointsPerMake;
constexpr int maskUndoCapacity = 1 << 16;

// ---------------------------------------------------------------------------
// Records.

// Pattern record of one point. Every field exists once per side (index 0
// black). The value fields are 16-bit and wrap; code and space words hold one
// nibble per direction: bits 0-3 H, 4-7 V, 8-11 D, 12-15 A.
struct PointPatterns {
    int16_t lineValueSum[2];
    int16_t pointValue[2];
    int16_t spaceSum[2];
    int16_t weightedValue[2];
    uint32_t codeWord[2];
    uint32_t spaceWord[2];
};
static_assert(sizeof(PointPatterns) == 32,
              "PointPatterns is four int16 pairs and two uint32 pairs");

// One entry of the window table: the code each side gets by playing at the
// window's centre, then each side's free space in the window. The field order
// is part of the table's layout.
struct WindowEntry {
    uint16_t code[2];
    int16_t space[2];
};
static_assert(sizeof(WindowEntry) == 8, "windowTable is 2 MiB of 8-byte entries");

// windowTable's entry again in bytes (codes 0..13, spaces 0..8 fit one each):
// half the memory, so the refreshes of make and unmake, which look up one
// window per point, miss the cache far less.
struct WindowCodes {
    uint8_t code[2];
    uint8_t space[2];
};
static_assert(sizeof(WindowCodes) == 4, "windowCodes is 1 MiB of 4-byte entries");

struct StonePoint {
    int32_t x;
    int32_t y;
};

struct MoveRecordEntry {
    int32_t x;
    int32_t y;
    int32_t colour;
};
static_assert(sizeof(MoveRecordEntry) == 12, "record entries are three int32 fields");

// A candidate in a per-ply move list; lower keys sort first.
struct ScoredMove {
    int32_t key;
    int16_t x;
    int16_t y;
};
static_assert(sizeof(ScoredMove) == 8, "ScoredMove is an int32 key and two int16 coordinates");

struct KillerEntry {
    int16_t x;
    int16_t y;
    uint32_t codeWord;  // the mover's code word at the point when it was stored
};

// Transposition-table entry, 32 bytes, little-endian. The check word folds the
// stored bounds, depth and flags into the key, so an entry whose data were torn
// or belong to another position does not verify:
// check = key ^ (upper << 36) ^ (lower << 8) ^ (depth << 2) ^ flags.
struct HashEntry {
    uint64_t check;
    int32_t upper;
    int32_t lower;
    int16_t depth;
    int16_t age;       // moveCount when last stored or hit
    int8_t flags;      // bit 0 upper valid, bit 1 lower valid
    int8_t moveCount;  // stored moves, 0..3
    int8_t moves[3][2];
    uint8_t unused[4];
};
static_assert(sizeof(HashEntry) == 32, "HashEntry is 32 bytes on every build");
static_assert(offsetof(HashEntry, upper) == 8 && offsetof(HashEntry, lower) == 12 &&
                  offsetof(HashEntry, depth) == 16 && offsetof(HashEntry, age) == 18 &&
                  offsetof(HashEntry, flags) == 20 && offsetof(HashEntry, moveCount) == 21 &&
                  offsetof(HashEntry, moves) == 22,
              "HashEntry field offsets are fixed");

struct HashBucket {
    HashEntry entries[4];
};
static_assert(sizeof(HashBucket) == 128, "a bucket is four entries, 128 bytes");

// Threat-search entry: check = key ^ (value sign-extended); plyTag = 576 - ply.
struct ThreatEntry {
    uint64_t check;
    int32_t value;
    int16_t plyTag;
    int16_t age;
};
static_assert(sizeof(ThreatEntry) == 16, "ThreatEntry is 16 bytes");

struct ThreatBucket {
    ThreatEntry entries[2];
};
static_assert(sizeof(ThreatBucket) == 32, "a threat bucket is two entries");

// One threat-point mask word as it was before a logged make wrote it.
struct MaskUndo {
    int32_t* where;
    int32_t old;
};

// What unmakeMove needs to take back one makeMove: where its logs start, the
// totals before it, and the count of lasting changes when it began.
struct MoveUndo {
    int32_t recordTop;
    int32_t maskTop;
    int32_t valueTotal[2];
    uint64_t lastingChanges;
};

struct LineWords {
    uint64_t H[24];
    uint64_t V[24];
    uint64_t D[47];
    uint64_t A[48];  // indexed 1..47
};

// ---------------------------------------------------------------------------
// The record.

struct EngineState {
    // --- protocol: input line, game record, board bounds -------------------
    char lineBuffer[lineBufferSize];
    int32_t boardWidth;   // bounds y; 0 until the first board is defined
    int32_t boardHeight;  // bounds x
    MoveRecordEntry moveRecord[maxPoints];
    int32_t moveCount;
    int32_t builtForRule;    // rule the board was last built for, -1 = not built
    int32_t builtForSearch;  // search whose evaluation tables that build used
    bool firstBuildPending;
    // Blocked points of the current game (BOARD lines with who 3): walls that
    // every later build of the board puts back.
    StonePoint blockedPoints[maxPoints];
    int32_t blockedCount;

    // --- INFO settings, written by the main thread even during a think -----
    std::atomic<int32_t> timeout_turn;
    std::atomic<int32_t> time_left;
    // The rule sent by INFO. The board and the searches read `rule`, which the
    // owner of the board copies from here when it takes the state, so a rule
    // changed during a think never reaches that think.
    std::atomic<int32_t> requestedRule;
    // Analysis settings: the deepest iteration a think may run and the nodes
    // it may search (0 or less: no limit), and the per-depth report switch.
    // Read once at the start of each think, like the time settings.
    std::atomic<int32_t> max_depth;
    std::atomic<int32_t> max_node;
    std::atomic<int32_t> show_detail;
    // Which search thinks: searchClassic or searchDefault (the start-up
    // value). Read once at the start of each think, like the time settings.
    std::atomic<int32_t> search;

    // --- think thread -------------------------------------------------------
    int32_t thinkCommand;  // 0 think, -1 end the thread
    std::atomic<int32_t> stopRequested;
    // Clock readings for the time control. The manager's clock for a move runs
    // from the moment it sends the command, so the engine's runs from the
    // moment the main loop has read it: commandReadAt is taken for every
    // command line (the main thread's own), and startThinking hands the one
    // of the command that asks for a move to the think as thinkClockStart.
    // For BOARD that is the BOARD line itself, so the stone lines, and any
    // board build they cause, count too.
    int64_t commandReadAt;
    int64_t thinkClockStart;

    // --- board geometry and rule --------------------------------------------
    int32_t boardSize;
    int32_t rule;
    int32_t updateRadius;

    // --- board ---------------------------------------------------------------
    int32_t cells[24][24];
    LineWords lineWords;
    uint64_t hashKey;
    StonePoint stoneList[maxPoints];
    int32_t stoneCount;
    PointPatterns patterns[24][24];
    int32_t valueTotal[2];
    // Threat-point sets: per group and side, a three-level bit set.
    int32_t dirMask[4][2][24][24];  // groups 0..3: bit d = direction d qualifies
    int32_t rowMask[5][2][24];      // bit y = (x, y) is in the group
    int32_t topMask[5][2];          // bit x = rowMask[..][x] != 0

    // --- what a refresh cannot take back -----------------------------------
    // A refresh brings a point's codes to what its window says, so refreshing
    // the same point twice around a stone and its removal gives back the very
    // record it started from: except where the record did not say what its
    // window says. Two such places exist. A direction not refreshed since the
    // reset keeps the reset code 1, which a refresh replaces for good; and a
    // light stone that replaces it leaves the point value computed with the
    // old code (stale) until a full refresh recomputes it. Both are one-way:
    // each bit below only ever clears, and every clear counts one lasting
    // change. unmakeMove copies the saved records back only when no lasting
    // change happened since its make; otherwise it refreshes. A stale value
    // that a refresh has made right again counts as the lasting change.
    uint32_t pristineLines[4][48];  // bit p: position p of the line not refreshed in that direction
    uint8_t staleValue[24][24];     // bit t: pointValue[t] may be stale
    uint32_t staleLines[4][48];     // bit p: the point at position p has a staleValue bit
    uint64_t lastingChanges;

    // Undo logs of makeMove, a stack with one frame per live make.
    PointPatterns undoRecords[undoRecordCapacity];
    uint16_t undoPointIndex[undoRecordCapacity];  // x * 24 + y of each saved record
    int32_t undoRecordTop;
    MaskUndo maskUndo[maskUndoCapacity];
    int32_t maskUndoTop;
    MoveUndo undoFrames[maxPoints];
    int32_t undoDepth;

    // --- pattern tables (rebuilt at every board build) ----------------------
    WindowEntry windowTable[windowCount];
    WindowCodes windowCodes[windowCount];  // windowTable in bytes, for the refreshes
    int16_t comboTable[2][codeWordCount];
    uint16_t comboFlags[codeWordCount];

    // --- keys and auxiliary tables -------------------------------------------
    uint64_t zobrist[24][24][3];
    bool zobristReady;
    int32_t posD[24][24];
    int32_t posA[24][24];
    uint8_t bitIndexTable[bitTableSize];
    uint8_t bitCountTable[bitTableSize];

    // --- think driver ---------------------------------------------------------
    int32_t turnBudget;
    int64_t nodeCount;
    int64_t searchStart;  // clock at the start; elapsed ms once the think ends
    int32_t iterationDepth;
    int32_t bestMove[2];
    int32_t lastSearchValue;
    int32_t searchAborted;
    int32_t singleRootMove;
    // This think's copies of the analysis settings; 0 means no limit. The
    // node limit is tested beside the clock, every 1024 nodes, so a think it
    // ends stops at the same node on every run and on both word sizes.
    int32_t depthLimit;
    int64_t nodeLimit;
    bool showDetail;
    // This think's copy of the search setting.
    int32_t searchMode;
    // Distance from the root of the deepest node of the running iteration.
    int32_t deepestPly;

    // --- node search ------------------------------------------------------------
    ScoredMove moveLists[maxPoints][maxPoints];
    uint64_t triedStamps[maxPoints][24][24];
    uint64_t plyGeneration[maxPoints];
    KillerEntry killerTable[maxPoints][2];

    // --- transposition and threat tables --------------------------------------
    HashBucket* hashTable[2];  // by side to move, index 0 black
    ThreatBucket*
        threatTables[4];  // attacker black, attacker white, defender black, defender white
    uint32_t allocatedHashBuckets;  // 0 = not allocated
    uint32_t allocatedThreatSize;
    int32_t hashClearedForRule;
};

extern EngineState engine;

// Sets the start-up values of the record (everything else is zero).
void initEngineState();

// Start-up, before the first command: writes the record's large arrays once
// (with the zeros they hold) so that the system maps their pages now. Left to
// the first board build and the first search, those page faults (about 8 MiB)
// fell inside the first move's time.
void prefaultEngineState();

// ---------------------------------------------------------------------------
// Geometry helpers shared by every layer.

inline bool onBoard(int x, int y) {
    return x >= 0 && y >= 0 && x < engine.boardHeight && y < engine.boardWidth;
}

// The line word of direction d through (x, y), and the position of (x, y) on it.
inline uint64_t& lineWordOf(int d, int x, int y) {
    switch (d) {
        case H: return engine.lineWords.H[x];
        case V: return engine.lineWords.V[y];
        case D: return engine.lineWords.D[x + y];
        default: return engine.lineWords.A[x - y + engine.boardSize];
    }
}

// Index of that line among the lines of its direction: H by x, V by y, D by
// x + y, A by x - y + boardSize (1..47).
inline int lineIndexOf(int d, int x, int y) {
    switch (d) {
        case H: return x;
        case V: return y;
        case D: return x + y;
        default: return x - y + engine.boardSize;
    }
}

inline int linePosition(int d, int x, int y) {
    switch (d) {
        case H: return y;
        case V: return x;
        case D: return engine.posD[x][y];
        default: return engine.posA[x][y];
    }
}

// The 18-bit window code of (x, y) in direction d.
inline uint32_t windowOf(int d, int x, int y) {
    return static_cast<uint32_t>((lineWordOf(d, x, y) >> (2 * linePosition(d, x, y))) & 0x3FFFF);
}

inline int codeAt(uint32_t codeWord, int d) { return static_cast<int>((codeWord >> (4 * d)) & 15); }

// ---------------------------------------------------------------------------
// Clock and the stop test shared by every search.

// Monotonic milliseconds.
int64_t nowMs();

// True when the running search must stop: its budget is spent (30 ms kept in
// reserve), its node limit is reached, or the main thread asked for a stop.
bool searchShouldStop();

#ifdef ZORVAN_STOP_GAPS
// Instrumented builds only (tools/stop_gaps.sh): how long the searches run
// between two stop tests, in microseconds. A stretch without a stop test is
// time in which a stop request or a spent budget goes unseen. The tool zeroes
// the record before a think or a search and reads it afterwards. Times are
// the thread's CPU time, so a busy machine does not lengthen them.
struct StopGaps {
    int64_t lastTestUs;
    int64_t longestUs;
    int64_t tests;
    int64_t firstTestUs;
};
extern StopGaps stopGaps;
int64_t nowUs();
#endif
