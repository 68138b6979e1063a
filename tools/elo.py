"""Match statistics: score to Elo, error bars and the sequential test.

Strength is measured in the usual logistic Elo model: a side that scores s
(wins plus half the draws, per game) is 400 * log10(s / (1 - s)) Elo stronger
than its opponent.

Games are played in pairs: each opening twice, colours swapped. The two games
of a pair are not independent (a lopsided opening tends to give each side one
win), so the error bars are worked out over pairs, not games: a pair's
outcome is the first engine's points over its two games, 0, 1/2, 1, 3/2 or 2,
and the five counts of those outcomes (the pentanomial) give the mean score
and its variance. Treating the games as independent would overstate the
variance whenever openings are unbalanced and so widen the interval for
nothing. A run without complete pairs falls back to counting games
(the trinomial: losses, draws, wins).

The sequential probability ratio test asks whether the first engine is
ELO0 or ELO1 stronger. Its log-likelihood ratio is the generalised one of
the normal approximation, which for a mean pair score m with variance v over
n pairs and the expected scores s0, s1 of the two hypotheses is
    LLR = n * (s1 - s0) * (2m - s0 - s1) / (2v).
The test stops when the LLR leaves [log(beta / (1 - alpha)),
log((1 - beta) / alpha)]: below, ELO0 is accepted; above, ELO1.
"""

import math

# Two-sided 95% quantile of the standard normal distribution.
Z95 = 1.959963984540054
# How far from 0 and 1 a score is clipped before it becomes Elo: a sweep
# would otherwise be infinitely strong.
SCORE_CLIP = 1e-6


def signed(value, digits=1):
    """value with its sign and `digits` decimals; never "-0.0"."""
    return "%+.*f" % (digits, round(value, digits) + 0.0)


def expected_score(elo):
    return 1.0 / (1.0 + 10.0 ** (-elo / 400.0))


def elo_of_score(score):
    s = min(max(score, SCORE_CLIP), 1.0 - SCORE_CLIP)
    return -400.0 * math.log10(1.0 / s - 1.0)


def pentanomial(pair_points):
    """Counts of pairs whose first-engine points (over two games) are 0, 0.5,
    1, 1.5 and 2."""
    counts = [0] * 5
    for points in pair_points:
        counts[int(round(points * 2))] += 1
    return counts


def _mean_and_variance(values_and_counts):
    n = sum(c for _, c in values_and_counts)
    if n == 0:
        return 0, 0.0, 0.0
    mean = sum(v * c for v, c in values_and_counts) / n
    variance = sum(c * (v - mean) ** 2 for v, c in values_and_counts) / n
    return n, mean, variance


def pair_statistics(counts):
    """(pairs, mean score per game, variance of a pair's mean score)."""
    return _mean_and_variance([(i / 4.0, c) for i, c in enumerate(counts)])


def game_statistics(wins, losses, draws):
    """(games, mean score, variance of one game's score)."""
    return _mean_and_variance([(1.0, wins), (0.0, losses), (0.5, draws)])


class Estimate:
    """An Elo estimate with its 95% interval. `lower` and `upper` are the
    interval's ends; `margin` is half its width, as the '±' figure."""

    def __init__(self, samples, score, lower, upper, model):
        self.samples = samples
        self.score = score
        self.elo = elo_of_score(score)
        self.lower = lower
        self.upper = upper
        self.margin = (upper - lower) / 2.0
        self.model = model

    def line(self):
        return "Elo %s ± %.1f (95%%)" % (signed(self.elo), self.margin)

    def as_dict(self):
        return {"elo": round(self.elo, 2), "margin": round(self.margin, 2),
                "lower": round(self.lower, 2), "upper": round(self.upper, 2),
                "score": round(self.score, 5), "samples": self.samples, "model": self.model}


def _estimate(samples, mean, variance, model):
    if samples == 0:
        return None
    half = Z95 * math.sqrt(variance / samples)
    return Estimate(samples, mean, elo_of_score(mean - half), elo_of_score(mean + half), model)


def estimate(pair_counts, wins, losses, draws):
    """The Elo estimate over the complete pairs, or over the games when no
    pair is complete; None without any game."""
    pairs, mean, variance = pair_statistics(pair_counts)
    if pairs:
        return _estimate(pairs, mean, variance, "pentanomial")
    games, mean, variance = game_statistics(wins, losses, draws)
    return _estimate(games, mean, variance, "trinomial")


def sprt_settings_fault(elo0, elo1, alpha, beta):
    """Why these test settings cannot be used, or None when they can."""
    if 0 < alpha < 0.5 and 0 < beta < 0.5 and elo0 < elo1:
        return None
    return "--sprt takes ELO0 < ELO1, with 0 < alpha, beta < 0.5"


def sprt_bounds(alpha, beta):
    """(lower, upper) bounds of the log-likelihood ratio."""
    return math.log(beta / (1.0 - alpha)), math.log((1.0 - beta) / alpha)


def sprt_llr(pair_counts, elo0, elo1):
    """The log-likelihood ratio of ELO1 against ELO0 over complete pairs; 0
    without any pair. While every pair has come out alike the variance is 0
    and says nothing; it is then taken as if one even pair had been played
    beside them, so that a clean sweep still ends the test."""
    pairs, mean, variance = pair_statistics(pair_counts)
    if pairs == 0:
        return 0.0
    if variance <= 0.0:
        _, _, variance = pair_statistics([c + (1 if i == 2 else 0)
                                          for i, c in enumerate(pair_counts)])
        if variance <= 0.0:  # every pair already even: no evidence either way
            return 0.0
    s0, s1 = expected_score(elo0), expected_score(elo1)
    return pairs * (s1 - s0) * (2.0 * mean - s0 - s1) / (2.0 * variance)


def sprt_verdict(llr, bounds):
    """"H1" (ELO1 accepted), "H0" (ELO0 accepted) or None to go on."""
    if llr >= bounds[1]:
        return "H1"
    if llr <= bounds[0]:
        return "H0"
    return None
