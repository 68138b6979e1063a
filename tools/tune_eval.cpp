// zorvan-tune-eval: fits the default search's combination amounts
// (board/eval_tuning.h) to what deeper searches or played games say about
// positions.
//
//   zorvan-tune-eval [--depth D] [--every N] [--scale S] [--teacher classic|default]
//                    [--part K/N] [--dump FILE] [--load FILE]... GAME.txt|DIR ...
//
// Reads game records as tools/match.py writes them (a "# rule R, board WxH
// (x below H, y below W)" line, a "# opening K, result 1-0|0-1|1/2" line, then
// one "x,y" move per line), replays each game on the engine's own board under
// the classic tables and takes every N-th position (default every one) from
// the 7th stone to the 9th last that is not decided on the spot (no five point
// for either side, no open four for the side to move).
//
// The target. With --depth D each position is searched by the classic search
// to depth D, and its value (the mean of depths D - 1 and D, which swing
// against each other with the side that moves last) is the target; positions
// whose search finds a win or a loss (|value| >= 3000) are left out. The fit
// then teaches the static evaluation what a short search adds to it, in the
// evaluation's own units, so the search's value-dependent margins keep their
// meaning. Without --depth the target is the game's result. That variant was
// measured and lost clearly: a fit to results learns the colour and the
// phase of the game more than the worth of shapes.
//
// The model. The evaluation is a sum over points, so an amount added to the
// value of every point whose two highest codes form pair k moves the
// side-to-move evaluation by amount_k * F_k, where F_k is the
// free-space-weighted count of such points of the side to move minus the
// opponent's. The fit is logistic: sigmoid((E + sum amount_k * F_k) / S)
// against sigmoid(target / S) for a search value (S fixed, 200 unless --scale
// says otherwise), or against the result (S first fitted with every amount at
// zero, unless --scale fixes it). The amounts come from full-batch Adam with
// an L2 penalty that keeps rarely seen pairs near zero. One game in five is
// held out; the penalty with the lowest held-out loss wins. The pair of two
// zero codes stays 0: occupied points carry it.
//
// --teacher default searches and evaluates with the default search's tables,
// amounts included, so a second round fits what is still missing; the rows
// printed are the amounts in the file plus the changes. --part K/N, --dump and
// --load split the searching over processes: each part dumps its samples, and
// a run that loads them all fits (give it the parts' --depth, or --scale).
//
// Prints the losses and the two rows to paste into board/eval_tuning.h
// (freestyle and standard, then Renju). A developer tool: printf directly.
#include <dirent.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "board/engine_state.h"
#include "board/eval_tuning.h"
#include "board/make_unmake.h"
#include "board/pattern_tables.h"
#include "board/tables.h"
#include "rules/evaluation.h"
#include "search/transposition.h"
#include "tools/bench_positions.h"

namespace {

struct Game {
    int rule = -1;
    int width = 0;
    int height = 0;
    int result = -1;  // 1 black won, 0 white won, 2 draw
    std::vector<std::pair<int, int>> moves;
};

// Distillation: with a search depth the label is not the game's result but
// the classic search's value of the position (the mean of its last two
// depths, against the odd-even swing), squashed by the fixed scale.
int distillDepth = 0;
double distillScale = 200.0;
bool scaleGiven = false;
int sampleEvery = 1;
int64_t searchedNodes = 0;
// The search that evaluates and searches the positions. With the default one
// the features fit changes on top of the amounts already in the tables, and
// the printed rows are those amounts plus the changes.
int teacher = searchClassic;

struct Sample {
    double eval;
    double label;
    bool heldOut;
    std::vector<float> features;
};

bool parseGame(const std::string& path, Game& g) {
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f) return false;
    char line[512];
    while (std::fgets(line, sizeof line, f)) {
        char ruleName[32];
        int h = 0, w = 0, a = 0, b = 0;
        if (std::sscanf(line, "# rule %31[a-z], board %dx%d (x below %d, y below %d)", ruleName, &w,
                        &h, &a, &b) == 5) {
            const std::string r = ruleName;
            g.rule = r == "freestyle"  ? ruleFreestyle
                     : r == "standard" ? ruleStandard
                     : r == "renju"    ? ruleRenju
                                       : -1;
            g.height = a;
            g.width = b;
        } else if (const char* res = std::strstr(line, "result ")) {
            res += 7;
            if (std::strncmp(res, "1-0", 3) == 0) g.result = 1;
            if (std::strncmp(res, "0-1", 3) == 0) g.result = 0;
            if (std::strncmp(res, "1/2", 3) == 0) g.result = 2;
        } else if (line[0] >= '0' && line[0] <= '9') {
            int x = 0, y = 0;
            if (std::sscanf(line, "%d,%d", &x, &y) == 2) g.moves.push_back({x, y});
        }
    }
    std::fclose(f);
    return g.rule >= 0 && g.result >= 0 && g.width >= 5 && g.height >= 5 &&
           g.width <= maxBoardSide && g.height <= maxBoardSide;
}

void listGames(const std::string& path, std::vector<std::string>& out) {
    DIR* d = opendir(path.c_str());
    if (!d) {
        out.push_back(path);
        return;
    }
    std::vector<std::string> names;
    while (dirent* e = readdir(d)) {
        const std::string n = e->d_name;
        if (n.size() > 4 && n.compare(n.size() - 4, 4, ".txt") == 0) names.push_back(n);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    for (const std::string& n : names) out.push_back(path + "/" + n);
}

// The side-to-move features of the current position: F_k per pair.
void featuresOf(int side, std::vector<float>& f) {
    f.assign(comboPairCount, 0.0f);
    for (int x = 0; x < engine.boardHeight; ++x) {
        for (int y = 0; y < engine.boardWidth; ++y) {
            if (engine.cells[x][y] != empty) continue;
            const PointPatterns& pp = engine.patterns[x][y];
            for (int s = black; s <= white; ++s) {
                const int k = comboPairIndex(pp.codeWord[s - 1], s, engine.rule);
                if (k <= 0) continue;
                const float w = static_cast<float>(pp.spaceSum[s - 1]) / 32.0f;
                f[k] += s == side ? w : -w;
            }
        }
    }
}

double sigmoid(double v) { return 1.0 / (1.0 + std::exp(-v)); }

// Parallel runs: --part K/N takes every N-th game from the K-th, --dump writes
// the samples instead of fitting, --load reads such a file back (one sample a
// line: family, held out, evaluation, label, the features).
int partIndex = 0;
int partCount = 1;
std::string dumpPath;
std::vector<std::string> loadPaths;

void dumpSamples(const std::string& path, const std::vector<Sample>& gomoku,
                 const std::vector<Sample>& renju) {
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f) return;
    for (int family = 0; family < 2; ++family) {
        for (const Sample& s : family == 0 ? gomoku : renju) {
            std::fprintf(f, "%d %d %.1f %.9f", family, s.heldOut ? 1 : 0, s.eval, s.label);
            for (float v : s.features) std::fprintf(f, " %g", v);
            std::fprintf(f, "\n");
        }
    }
    std::fclose(f);
}

void loadSamples(const std::string& path, std::vector<Sample>& gomoku, std::vector<Sample>& renju) {
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f) return;
    int family = 0, held = 0;
    Sample s;
    while (std::fscanf(f, "%d %d %lf %lf", &family, &held, &s.eval, &s.label) == 4) {
        s.heldOut = held != 0;
        s.features.assign(comboPairCount, 0.0f);
        for (float& v : s.features) {
            if (std::fscanf(f, "%f", &v) != 1) break;
        }
        (family == 0 ? gomoku : renju).push_back(s);
    }
    std::fclose(f);
}

// The teacher's search value of the side to move at `depth` and `depth - 1`,
// averaged; false when either is a proven result or beyond the clip.
bool searchValue(int side, int depth, double& value) {
    startFixedDepthSearch(teacher);
    int32_t last[2] = {0, 0};
    for (int d = 1; d <= depth; ++d) {
        const int32_t v = searchIteration(d, side);
        last[d & 1] = v;
        if (v >= 3000 || v <= -3000) {
            searchedNodes += engine.nodeCount;
            return false;
        }
    }
    searchedNodes += engine.nodeCount;
    value = (last[0] + last[1]) / 2.0;
    return true;
}

void setUpBoard(const Game& g) {
    if (engine.rule != g.rule || engine.boardWidth != g.width || engine.boardHeight != g.height ||
        engine.builtForRule != g.rule) {
        BenchPosition geometry;
        geometry.rule = g.rule;
        geometry.width = g.width;
        geometry.height = g.height;
        setBenchGeometry(geometry);
        buildEngineTables();
        engine.builtForRule = g.rule;
    }
    resetBoard();
}

void collectSamples(const Game& g, bool heldOut, std::vector<Sample>& out) {
    setUpBoard(g);
    const int n = static_cast<int>(g.moves.size());
    for (int i = 0; i < n; ++i) {
        const int x = g.moves[i].first, y = g.moves[i].second;
        if (!onBoard(x, y) || engine.cells[x][y] != empty) return;
        placeStone(x, y, i % 2 + 1);
        const int stones = i + 1;
        if (stones < 7 || stones > n - 9) continue;
        const int side = stones % 2 + 1;
        const int opponent = 3 - side;
        if (!groupEmpty(groupFive, side) || !groupEmpty(groupFive, opponent) ||
            !groupEmpty(groupOpenFour, side)) {
            continue;
        }
        if (stones % sampleEvery != 0) continue;
        Sample s;
        engine.iterationDepth = 0;
        s.eval = evaluatePosition(0, side);
        s.label = g.result == 2 ? 0.5 : ((g.result == 1) == (side == black) ? 1.0 : 0.0);
        if (distillDepth > 0) {
            double v = 0;
            if (!searchValue(side, distillDepth, v)) continue;
            s.label = sigmoid(v / distillScale);
        }
        s.heldOut = heldOut;
        featuresOf(side, s.features);
        out.push_back(std::move(s));
    }
}

double lossOf(const std::vector<Sample>& set, bool heldOut, double scale,
              const std::vector<double>& amounts) {
    double sum = 0;
    int count = 0;
    for (const Sample& s : set) {
        if (s.heldOut != heldOut) continue;
        double e = s.eval;
        for (int k = 0; k < comboPairCount; ++k) e += amounts[k] * s.features[k];
        const double p = std::clamp(sigmoid(e / scale), 1e-9, 1 - 1e-9);
        sum -= s.label * std::log(p) + (1 - s.label) * std::log(1 - p);
        ++count;
    }
    return count ? sum / count : 0;
}

double fitScale(const std::vector<Sample>& set) {
    const std::vector<double> zero(comboPairCount, 0.0);
    double lo = std::log(10.0), hi = std::log(20000.0);
    for (int i = 0; i < 60; ++i) {
        const double a = lo + (hi - lo) / 3, b = hi - (hi - lo) / 3;
        if (lossOf(set, false, std::exp(a), zero) < lossOf(set, false, std::exp(b), zero)) {
            hi = b;
        } else {
            lo = a;
        }
    }
    return std::exp((lo + hi) / 2);
}

std::vector<double> fitAmounts(const std::vector<Sample>& set, double scale, double lambda) {
    std::vector<double> a(comboPairCount, 0.0), m(comboPairCount, 0.0), v(comboPairCount, 0.0);
    std::vector<double> grad(comboPairCount);
    int count = 0;
    for (const Sample& s : set) count += !s.heldOut;
    const double rate = 2.0, b1 = 0.9, b2 = 0.999;
    for (int step = 1; step <= 1500; ++step) {
        std::fill(grad.begin(), grad.end(), 0.0);
        for (const Sample& s : set) {
            if (s.heldOut) continue;
            double e = s.eval;
            for (int k = 0; k < comboPairCount; ++k) e += a[k] * s.features[k];
            const double r = (sigmoid(e / scale) - s.label) / scale;
            for (int k = 0; k < comboPairCount; ++k) grad[k] += r * s.features[k];
        }
        for (int k = 1; k < comboPairCount; ++k) {
            const double g = grad[k] / count + 2 * lambda * a[k];
            m[k] = b1 * m[k] + (1 - b1) * g;
            v[k] = b2 * v[k] + (1 - b2) * g * g;
            const double mh = m[k] / (1 - std::pow(b1, step));
            const double vh = v[k] / (1 - std::pow(b2, step));
            a[k] -= rate * mh / (std::sqrt(vh) + 1e-12);
        }
    }
    return a;
}

void fitFamily(const char* name, int row, const std::vector<Sample>& set) {
    int train = 0;
    for (const Sample& s : set) train += !s.heldOut;
    std::printf("%s: %zu positions, %d to fit, %zu held out\n", name, set.size(), train,
                set.size() - train);
    if (train < 1000) {
        std::printf("%s: too few positions, row left at zero\n", name);
        return;
    }
    const double scale = distillDepth > 0 || scaleGiven ? distillScale : fitScale(set);
    const std::vector<double> zero(comboPairCount, 0.0);
    std::printf("%s: scale %.1f, loss %.5f fitted, %.5f held out (current values)\n", name, scale,
                lossOf(set, false, scale, zero), lossOf(set, true, scale, zero));
    std::vector<double> best = zero;
    double bestHeldOut = lossOf(set, true, scale, zero);
    for (double lambda : {1e-5, 1e-6, 1e-7, 1e-8}) {
        const std::vector<double> a = fitAmounts(set, scale, lambda);
        const double held = lossOf(set, true, scale, a);
        std::printf("%s: lambda %g loss %.5f fitted, %.5f held out\n", name, lambda,
                    lossOf(set, false, scale, a), held);
        if (held < bestHeldOut) {
            bestHeldOut = held;
            best = a;
        }
    }
    std::printf("%s row:\n    {", name);
    for (int k = 0; k < comboPairCount; ++k) {
        const double base = teacher == searchDefault ? comboPairTuning[row][k] : 0.0;
        std::printf("%s%d", k ? ", " : "", static_cast<int>(std::lround(base + best[k])));
    }
    std::printf("},\n");
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--depth" && i + 1 < argc) {
            distillDepth = std::atoi(argv[++i]);
        } else if (arg == "--every" && i + 1 < argc) {
            sampleEvery = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--scale" && i + 1 < argc) {
            distillScale = std::atof(argv[++i]);
            scaleGiven = distillScale > 0;
        } else if (arg == "--teacher" && i + 1 < argc) {
            teacher = std::string(argv[++i]) == "default" ? searchDefault : searchClassic;
        } else if (arg == "--part" && i + 1 < argc) {
            std::sscanf(argv[++i], "%d/%d", &partIndex, &partCount);
        } else if (arg == "--dump" && i + 1 < argc) {
            dumpPath = argv[++i];
        } else if (arg == "--load" && i + 1 < argc) {
            loadPaths.push_back(argv[++i]);
        } else {
            listGames(arg, paths);
        }
    }
    if (paths.empty() && loadPaths.empty()) {
        std::fprintf(stderr, "usage: zorvan-tune-eval GAME.txt|DIR ...\n");
        return 2;
    }
    initEngineState();
    engine.searchMode = teacher;
    if (distillDepth > 0) prepareHashTablesAtStartUp();
    std::vector<Sample> gomoku, renju;
    int games = 0, skipped = 0;
    for (const std::string& p : paths) {
        Game g;
        if (!parseGame(p, g)) {
            ++skipped;
            continue;
        }
        if (partCount <= 1 || games % partCount == partIndex) {
            collectSamples(g, games % 5 == 4, g.rule == ruleRenju ? renju : gomoku);
        }
        ++games;
    }
    std::printf("%d games read, %d files skipped, %lld nodes searched\n", games, skipped,
                static_cast<long long>(searchedNodes));
    for (const std::string& p : loadPaths) loadSamples(p, gomoku, renju);
    if (!dumpPath.empty()) {
        dumpSamples(dumpPath, gomoku, renju);
        return 0;
    }
    fitFamily("freestyle/standard", 0, gomoku);
    fitFamily("renju", 1, renju);
    return 0;
}
