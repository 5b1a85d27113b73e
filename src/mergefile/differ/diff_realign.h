// The edits of a diff, realigned where a walk through repetitive content took
// a wrong diagonal (diff_realign.cpp).
#pragma once

#include <cstdint>
#include <vector>

#include "differ/diff.h"

// Each cluster of close edits replaced by the cheapest alignment that enters
// and leaves it on the same diagonals with at most one insertion or deletion,
// where that costs less in the merge file. The edits must turn A into B. The
// bytes compared are bounded by a few passes over both inputs.
void RealignEdits(const uint8_t* a, uint32_t aSize, const uint8_t* b, uint32_t bSize,
                  std::vector<Edit>* edits);
