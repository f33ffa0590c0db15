#pragma once

namespace tessary::bench {

// The record's rows of the benchmark (the group "record"): prints its table;
// false when a row failed or missed its goal.
bool recordRows(int runs);

} // namespace tessary::bench
