// Node search: fail-soft principal-variation alpha-beta below the root.
#pragma once

#include <cstdint>

// Value of the node for side. ext is the extension credit in half plies.
// Returns 0 at once once the search is aborted; callers test searchAborted.
int32_t searchNode(int depth, int32_t alpha, int32_t beta, int side, int ext);

// Clears the tried-point stamps and their generations of every ply (at the
// start of a game). Stamps are only ever compared with the current generation
// of their ply, so stale ones are harmless; clearing keeps games independent.
void clearTriedStamps();

// ---------------------------------------------------------------------------
// Pieces shared with the root search. The root is a node with a few
// differences in its entry checks and bookkeeping; its move generation, move
// filtering, penalties and kept moves are exactly those of every other node.

// Stage numbers of the staged move generation, in the order they run.
constexpr int stageTable = 0;
constexpr int stageOwnDoubles = 1;
constexpr int stageOpenFourDefence = 2;
constexpr int stageOppDoubles = 3;
constexpr int stageOwnThreats = 4;
constexpr int stageOppThreats = 5;
constexpr int stageKillers = 6;
constexpr int stageRest = 7;
constexpr int stageCount = 8;
// The single forced block of an opponent five point; not a generation stage.
constexpr int stageForcedBlock = 8;

// Bookkeeping of one node while its moves are searched. Lives on the stack of
// the node's own call; the move list itself is engine.moveLists[ply].
struct SearchFrame {
    int depth;
    int side;
    int opp;
    int ext;
    int effDepth;  // depth + ext / 2: table depth, pruning thresholds
    int ply;       // iterationDepth - depth, the index of every per-ply table
    bool root;     // stores overwrite instead of merging
    bool nullWindow;
    int32_t alpha;
    int32_t beta;
    int32_t best;  // noBest until a move has been searched
    int bound;     // 1 upper until alpha is raised, then 3 exact
    int listed;    // moves listed (kept by the filter) at this node so far
    bool forcedBlock;
    int blockX;
    int blockY;
    bool defenceOnly;  // the open-four defences are the only moves
    bool evalKnown;
    int32_t eval;  // evaluatePosition(depth - 1, side), for pruning and penalties
    int keptX[3];
    int keptY[3];
    int32_t keptValue[3];
    int tableCount;  // moves of stage 0, in list order
    int tableX[3];
    int tableY[3];
};

// Distance-from-root bounds: a node whose ply falls outside [0, maxPoints - 2]
// cannot give its children a list of their own and is searched as a leaf.
bool plyInRange(int ply);
// Leaf value of a node outside the ply range (no table store).
int32_t outOfRangeLeaf(int depth, int side);

// Fills the frame for a node (kept moves empty, bound upper, nothing listed).
void initFrame(SearchFrame& f, int depth, int32_t alpha, int32_t beta, int side, int ext);
// Node count and the periodic abort test; true when the search must stop now.
bool countNodeAndCheckAbort();
// True when side's first open-four point wins at once (not a Renju foul).
bool openFourWins(int side);
// Starts a new generation of tried-point stamps for the frame's ply.
void startPlyGeneration(int ply);

// Stage 0 (table moves with internal deepening). Returns the number of listed
// moves, or -1 when the node ends here with *result (abort: 0; a proven win
// of the reduced search at a null-window node).
int generateTableStage(SearchFrame& f, int32_t* result);
// Stages 1 to 7 into the ply's list; returns the number of raw entries.
// Stage 2 may set defenceOnly.
int generateStage(SearchFrame& f, int stage);
// Drops tried points and Renju fouls, stamps and scores the rest, sorts them
// (strongest first, stable) unless keepOrder; returns the surviving count.
int filterAndOrder(SearchFrame& f, int count, bool keepOrder);

// Before side's stone goes on (x, y): starts loading the table buckets the
// child reads first (a cache hint, no effect on any result).
void prefetchChild(const SearchFrame& f, int x, int y);
// Value penalty K and extension (half plies) for side playing (x, y), before
// the stone is placed; may evaluate the position once per node.
int32_t threatPenalty(SearchFrame& f, int x, int y, int* extension);
// After the stone is placed: the four-sequence extension of a quiet move in a
// PV node. Returns false when the threat search was aborted.
bool threatExtension(const SearchFrame& f, int w, int* extension);
// Principal-variation search of the child after side's stone is on (x, y).
int32_t searchChild(const SearchFrame& f, int moveNumber, int32_t penalty, int credit);

// Ranks a searched move into the three kept moves (uses the current alpha).
void keepMove(SearchFrame& f, int x, int y, int32_t v);
// Killer update for a quiet move that caused a cut-off.
void updateKillers(const SearchFrame& f, int x, int y);
// True when (x, y) is quiet: both line-value sums below the threat level.
bool quietPoint(int x, int y);
// Move-count pruning after a move that did not raise alpha.
bool pruneByCount(const SearchFrame& f, int stage, int moveNumber, int extension);
// No empty point left inside the board rectangle.
bool boardIsFull();
