// The array layer: arrays, dense linear algebra, interpolation and fits.
#include <gtest/gtest.h>

#include <limits>

#include "synthetic.h"

namespace {

using V = std::vector<double>;
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

KwdbMatrix matrixOf(const std::vector<V>& rows) {
    const int n = static_cast<int>(rows.size()), m = static_cast<int>(rows[0].size());
    KwdbMatrix a(0, n - 1, 0, m - 1);
    for (int i = 0; i < n * m; ++i) a(i / m, i % m) = rows[i / m][i % m];
    return a;
}

void expectNear(const KwdbMatrix& m, const KwdbMatrix& e, double tol) {
    ASSERT_EQ(m.getNumRows() * 100 + m.getNumCols(), e.getNumRows() * 100 + e.getNumCols());
    for (int i = 0; i < m.getNumRows(); ++i)
        for (int j = 0; j < m.getNumCols(); ++j) EXPECT_NEAR(m(i, j), e(i, j), tol) << i << j;
}

KwdbMatrix identity(int n) {
    KwdbMatrix m(0, n - 1, 0, n - 1);
    for (int i = 0; i < n; ++i) m(i, i) = 1.0;
    return m;
}

KwdbAry aryOf(const V& v) {
    return KwdbAry(static_cast<int>(v.size()), v.data());
}

}  // namespace

TEST(KwdbAry, RangesCopiesAndMostProbableValue) {
    EXPECT_EQ(KwdbAry(-5).getNumData(), 0);
    KwdbAry b = aryOf({3.0, -7.0, 2.0, 5.0, kNaN});
    EXPECT_EQ(V({b.getMaxData(0, 3), b.getMinData(0, 2), b.getMaxData(2, 2)}), V({5, -7, 2}));
    EXPECT_EQ(V({b.getMaxData(3, 1), b.getMinData(3, 1)}), V({-1e300, 1e300}));
    EXPECT_EQ(b.getMaxData(0, 4), 5.0);  // a NaN sample never wins
    EXPECT_EQ(aryOf({3.0, -7.0, 2.0}).norm1(), 12.0);
    KwdbAry a(3), c(b);
    c[0] = 100.0;
    a = b;
    const KwdbAry& same = a;
    a = same;  // assigning an array to itself keeps it
    b[1] = 0.0;
    EXPECT_EQ(a.getNumData(), 5);
    EXPECT_EQ(a[1] + c[1], -14.0);
    // (samples, width, mode): the fullest bin's mean (lower of equal ones), non-finite
    // ignored; tiny widths build no bins; no usable width: the mean; nothing usable: 0.
    const std::pair<V, V> cases[] = {
        {{5.0, 1.0, 9.0, 1.2, 5.05, 1.1, kNaN, kInf, -kInf}, {1.0, 1.1}},
        {{3.2, 0.5, 3.0, 0.0}, {1.0, 0.25}},
        {{0.0, 1.0, 2.0, 1.0, 0.5}, {1e-9, 1.0}},
        {{-1e6, 1e6, 5.0, 5.0}, {1e-300, 5.0}},
        {{1.0, 2.0, 6.0}, {0.0, 3.0}},
        {{1.0, 2.0, 6.0}, {kNaN, 3.0}},
        {{kNaN, kInf}, {1.0, 0.0}},
    };
    for (const auto& m : cases)
        EXPECT_NEAR(aryOf(m.first).mostProbableValue(m.second[0]), m.second[1], 1e-12)
            << m.first[0];
}

TEST(KwdbMatrix, InverseProductDyadAndFailures) {
    // A zero first pivot forces a row exchange.
    const KwdbMatrix a = matrixOf({{0, 2, 1, 0}, {1, 1, 0, 3}, {0, 0, 1, 1}, {2, 0, 0, 1}});
    KwdbMatrix inv,
        expected = matrixOf({{1, -2, -1, 7}, {5, 2, -5, -1}, {2, -4, 10, 2}, {-2, 4, 2, -2}});
    expected.beProductOf(1.0 / 12.0, expected);
    ASSERT_EQ(inv.beInverseOf(a), 1);
    expectNear(inv, expected, 1e-14);
    // In place: the inverse of the inverse, and a product into an operand.
    KwdbMatrix m(a);
    ASSERT_EQ(m.beInverseOf(m) + m.beInverseOf(m), 2);
    expectNear(m, a, 1e-14);
    m.beProductOf(m, inv);
    expectNear(m, identity(4), 1e-14);
    // Singular, zero, NaN or non-square: 0 and the identity of the shape.
    KwdbMatrix r = matrixOf({{7, 7}, {7, 7}});
    EXPECT_EQ(r.beInverseOf(matrixOf({{1, 2, 3}, {2, 1, 0}, {3, 3, 3}})), 0);
    expectNear(r, identity(3), 0.0);
    for (KwdbMatrix bad : {KwdbMatrix(0, 3, 0, 3), matrixOf({{1, kNaN}, {0, 1}})}) {
        EXPECT_EQ(bad.beInverseOf(bad), 0);
        expectNear(bad, identity(bad.getNumRows()), 0.0);
    }
    KwdbMatrix wide(0, 1, 0, 2);
    wide = 5.0;
    EXPECT_EQ(r.beInverseOf(wide), 0);
    r.beProductOf(wide, wide);  // mismatched: the target stays as it was
    expectNear(r, matrixOf({{1, 0, 0}, {0, 1, 0}}), 0.0);
    // Dyad, sums, scaling and deep copies.
    KwdbVector u(0, 1), v(0, 2);
    u(0) = 1.0, u(1) = -2.0;
    v(0) = 3.0, v(1) = 4.0, v(2) = 5.0;
    KwdbMatrix d, sum(0, 1, 0, 2), other(0, 2, 0, 2);
    d.beDyadOf(u, v);
    expectNear(d, matrixOf({{3, 4, 5}, {-6, -8, -10}}), 0.0);
    sum += d;
    sum += d;
    sum.beProductOf(0.25, sum);
    sum += other;  // element counts differ: unchanged
    expectNear(sum, matrixOf({{1.5, 2, 2.5}, {-3, -4, -5}}), 0.0);
    KwdbMatrix c(sum), e;
    e = sum;
    const KwdbMatrix& sameMatrix = e;
    e = sameMatrix;
    sum(0, 0) = 9.0;
    EXPECT_EQ(c(0, 0) + e(0, 0), 3.0);
    EXPECT_EQ(KwdbVector(3, 1).getNumElements() + KwdbMatrix(0, 3, 2, 1).getNumElements(), 0);
}

// 13 unknowns are solved on the stack, 21 on the heap.
TEST(KwdbVector, SolvesSmallAndLargeSystemsOrGivesZeros) {
    for (const int n : {13, 21}) {
        std::mt19937 rng(7);
        std::uniform_real_distribution<double> u(-1.0, 1.0);
        KwdbMatrix a(0, n - 1, 0, n - 1);
        KwdbVector x(0, n - 1), b, s;
        for (int i = 0; i < n; ++i) {
            x(i) = u(rng) * 10.0;
            for (int j = 0; j < n; ++j) a(i, j) = u(rng) + (i == j ? 4.0 : 0.0);
        }
        b.beProductOf(a, x);
        ASSERT_EQ(s.beSolutionOf(a, b, 0), 1);
        for (int i = 0; i < n; ++i) EXPECT_NEAR(s(i), x(i), 1e-12);
        // In place: b becomes the solution; a * b - b0 (into an operand) is zero.
        KwdbVector minusRhs;
        minusRhs.beProductOf(-1.0, b);
        ASSERT_EQ(b.beSolutionOf(a, b, 0), 1);
        b.beProductOf(a, b);
        b += minusRhs;
        EXPECT_LT(b.maxAbsValue(), 1e-12);
    }
    // Singular, mismatched or NaN: 0 and zeros of the right-hand side's size.
    KwdbVector ones(0, 2), z(0, 5);
    ones = 1.0;
    for (const KwdbMatrix& bad :
         {matrixOf({{1, 2, 3}, {2, 4, 6}, {0, 0, 1}}), matrixOf({{1, 0}, {0, 1}}),
          matrixOf({{1, 0, 0}, {0, kNaN, 0}, {0, 0, 1}})}) {
        EXPECT_EQ(z.beSolutionOf(bad, ones, 0), 0);
        EXPECT_EQ(std::make_pair(z.getNumElements(), z.maxAbsValue()), std::make_pair(3, 0.0));
        z = 2.0;
    }
}

TEST(KwXY, NevilleIsExactOnAQuartic) {
    auto f = [](double x) { return x * x * x * x - 2 * x * x * x + 3 * x - 1; };
    KwXY p(7);  // points 1..5 lie on the quartic, the outer two do not
    for (int i = 0; i < 7; ++i) {
        p.x(i) = i - 1.0;
        p.y(i) = (i == 0 || i == 6) ? 1e6 : f(i - 1.0);
    }
    double y = 0.0, dy = 0.0;
    for (double at : {0.0, 2.5, 3.9, 5.5, -1.25}) {
        ASSERT_EQ(p.polynomInterpolat(at, y, dy, 1, 5), 1);
        EXPECT_NEAR(y, f(at), 1e-9 * (1.0 + std::fabs(f(at))));
    }
    ASSERT_EQ(p.polynomInterpolat(0.3, y, dy, 2, 1), 1);
    EXPECT_EQ(y, f(1.0));
    // Too few points, a range outside the set, equal abscissae: 0 and zeros.
    EXPECT_EQ(p.polynomInterpolat(1.0, y, dy, 3, 5) + p.polynomInterpolat(1.0, y, dy, -1, 3), 0);
    KwXY q(p), r(0);
    r = p;
    const KwXY& samePoints = r;
    r = samePoints;
    p.x(3) = p.x(2);
    EXPECT_EQ(p.polynomInterpolat(1.0, y, dy, 1, 5), 0);
    EXPECT_EQ(y + dy, 0.0);
    EXPECT_EQ(q.x(3) + r.x(3), 4.0);  // copies are deep
}

TEST(KwXY, LegendreFitRecoversASeries) {
    const double legendre[][3] = {{0, 0.3, 1.0},     {1, 0.3, 0.3},  {2, 0.5, -0.125},
                                  {3, 0.5, -0.4375}, {40, 1.0, 1.0}, {-1, 0.5, 0.0}};
    for (const auto& l : legendre) EXPECT_NEAR(LegPol(static_cast<int>(l[0]), l[1]), l[2], 1e-12);
    // x = k + 0.5 maps onto the midpoints of n equal cells of -1..1.
    const int n = 20;
    const double c[4] = {0.5, -1.25, 2.0, 0.75};
    KwXY p(n);
    for (int k = 0; k < n; ++k) {
        p.x(k) = k + 0.5;
        for (int j = 0; j < 4; ++j) p.y(k) += c[j] * LegPol(j, -1.0 + (2.0 * k + 1.0) / n);
    }
    double coef[6];
    ASSERT_EQ(p.LegendreFit(5, coef, -1.0 + 1.0 / n, 1.0 - 1.0 / n, 0), 1);
    for (int j = 0; j < 6; ++j) EXPECT_NEAR(coef[j], j < 4 ? c[j] : 0.0, 1e-10);
    // Fewer points than coefficients: a line through two points.
    KwXY two(2);
    two.x(0) = 10.0, two.y(0) = 1.0, two.x(1) = 20.0, two.y(1) = 3.0;
    ASSERT_EQ(two.LegendreFit(3, coef, -1.0, 1.0, 0), 1);
    for (int j = 0; j < 4; ++j) EXPECT_NEAR(coef[j], j < 2 ? 2.0 - j : 0.0, 1e-12);
    // Nothing to fit, coincident abscissae, non-finite values: 0 and zeros.
    EXPECT_EQ(KwXY(0).LegendreFit(2, coef, -1.0, 1.0, 0), 0);
    EXPECT_EQ(coef[0], 0.0);
    two.x(1) = 10.0;
    EXPECT_EQ(two.LegendreFit(1, coef, -1.0, 1.0, 0), 0);
    EXPECT_EQ(two.LegendreFit(0, coef, -1.0, 1.0, 0), 1);
    EXPECT_NEAR(coef[0], 2.0, 1e-12);
    two.y(1) = kNaN;
    EXPECT_EQ(two.LegendreFit(0, coef, -1.0, 1.0, 0), 0);
    EXPECT_EQ(coef[0], 0.0);
}
