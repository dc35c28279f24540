#pragma once

// A random draw r that makes Int(range * r) equal n: the middle of n's slot.
inline double drawFor(int n, int range)
{
    return (n + 0.5) / range;
}
