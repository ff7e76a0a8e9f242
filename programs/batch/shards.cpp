// Deterministic near-equal shards: the same list and shard count give the same parts anywhere.
#include <cstdlib>

#include "programs/batch/batch.h"

// Contiguous ranges, as Kaldi's split scripts make, so the shards' scripts concatenated in order
// list the utterances in the list's order; sizes differ by at most one.
ShardRange shardRange(size_t count, int shard, int shardCount) {
    const size_t k = static_cast<size_t>(shard - 1), n = static_cast<size_t>(shardCount);
    return {count * k / n, count * (k + 1) / n};
}

bool parseShard(const std::string& text, int* shard, int* shardCount) {
    size_t slash = text.find('/');
    if (slash == std::string::npos || slash == 0 || slash + 1 == text.size()) return false;
    for (size_t i = 0; i < text.size(); i++) {
        if (i != slash && (text[i] < '0' || text[i] > '9')) return false;
    }
    if (slash > 9 || text.size() - slash - 1 > 9) return false;
    *shard = atoi(text.substr(0, slash).c_str());
    *shardCount = atoi(text.substr(slash + 1).c_str());
    return *shardCount >= 1 && *shard >= 1 && *shard <= *shardCount;
}
