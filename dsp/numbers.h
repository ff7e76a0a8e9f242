#pragma once
// The constants of the analysis, each the double the computations are defined with.
constexpr double PI = 3.141592653589793;
constexpr double TWO_PI = 2 * PI;  // 6.283185307179586, exactly
constexpr double FOUR_PI = 4 * PI;  // 12.566370614359172, exactly
