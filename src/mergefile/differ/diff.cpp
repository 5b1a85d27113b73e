// DiffBytes: the common prefix and suffix are set aside; a walk then goes
// through the rest from the start, taking each equal run as far as it goes
// and asking NextRun (diff_walk.cpp) for the next one where it stops. On
// several threads, B is cut into segments and a walk begins at each, from a
// guess of where the segment starts in A. NextRun's answer depends only on
// where it is asked, so once the walk from the start reaches a place where
// the next segment's walk stood, it goes on exactly as that walk went: the
// walks are joined there, and the result is the one walk's, whatever the
// number of threads.
#include "differ/diff.h"

#include <algorithm>
#include <atomic>
#if VORANDEL_DIFF_THREADS
#include <mutex>
#include <system_error>
#include <thread>
#endif

#include "differ/diff_realign.h"
#include "differ/diff_walk.h"
#include "format/merge_format.h"

namespace {

// Equal stretches no longer than this between two edits cost more as a
// record head of their own than as data.
constexpr uint32_t FOLD_MAX = RECORD_HEAD_SIZE;
constexpr uint32_t PROGRESS_STEP = uint32_t{1} << 22;
// Segments on several threads: at least this many bytes of B each, and this
// many for each thread, so that the threads finish about together.
constexpr uint32_t SEGMENT_MIN = uint32_t{4} << 20;
constexpr uint32_t SEGMENTS_PER_THREAD = 4;
#if VORANDEL_DIFF_THREADS
constexpr unsigned THREADS_MAX = 8;
#endif

// The walk from one place: its runs in order, each but the first the
// NextRun of where the one before ends.
struct Segment {
  uint32_t bFrom;
  std::vector<EqualRun> runs;
  bool finished;  // NextRun found no more: the rest is one edit
};

inline uint32_t EndA(const EqualRun& run) { return run.aAt + run.length; }
inline uint32_t EndB(const EqualRun& run) { return run.bAt + run.length; }

struct Differ {
  DiffInput in;
  DiffProgress progress;
  void* context;
  uint64_t total;
  std::atomic<uint64_t> done{0};
  uint64_t nextReport = 0;
  AnchorIndex anchors;
#if VORANDEL_DIFF_THREADS
  std::once_flag anchorsBuilt;
  std::thread::id reporter;
#else
  bool anchorsBuilt = false;
#endif

  static const AnchorIndex* Anchors(void* owner) {
    auto* differ = static_cast<Differ*>(owner);
#if VORANDEL_DIFF_THREADS
    std::call_once(differ->anchorsBuilt,
                   [differ] { BuildAnchorIndex(differ->in, &differ->anchors); });
#else
    if (!differ->anchorsBuilt) {
      BuildAnchorIndex(differ->in, &differ->anchors);
      differ->anchorsBuilt = true;
    }
#endif
    return &differ->anchors;
  }

  Walker NewWalker() {
    return Walker{&in, Anchors, this, {}, {}, {}, {}, {}, {}, {}, {}};
  }

  // Only the thread that called DiffBytes reports, with all walks' progress.
  void Advance(uint64_t bytes) {
    uint64_t now = done.fetch_add(bytes, std::memory_order_relaxed) + bytes;
#if VORANDEL_DIFF_THREADS
    if (std::this_thread::get_id() != reporter) return;
#endif
    if (progress != nullptr && now >= nextReport) {
      progress(context, now, total);
      nextReport = now + PROGRESS_STEP;
    }
  }

  // Walks from (i, j) until NextRun finds no more, or a run ends at or after
  // B's bStop. Only B's [j, bStop) counts as this walk's progress: past it,
  // the next segment's walk counts the same bytes, and the sum must not pass
  // the total.
  void Walk(Walker* walker, uint32_t i, uint32_t j, uint32_t bStop, Segment* segment) {
    const uint32_t counted = std::min(bStop, in.bHi);
    uint32_t reported = j;
    uint32_t equal = CommonPrefix(in.a + i, in.b + j, std::min(in.aHi - i, in.bHi - j));
    segment->runs.push_back({i, j, equal});
    i += equal;
    j += equal;
    segment->finished = false;
    while (j < bStop) {
      EqualRun run;
      if (!NextRun(walker, i, j, &run)) {
        segment->finished = true;
        break;
      }
      segment->runs.push_back(run);
      i = EndA(run);
      j = EndB(run);
      if (std::min(j, counted) - reported >= PROGRESS_STEP) {
        Advance(std::min(j, counted) - reported);
        reported = std::min(j, counted);
      }
    }
    if (std::min(j, counted) > reported) Advance(std::min(j, counted) - reported);
  }

  // Where a walk for the segment that begins at B's bFrom starts in A: as
  // far into A's part as bFrom is into B's, the sizes aside.
  uint32_t GuessA(uint32_t bFrom) const {
    uint64_t into = uint64_t{bFrom} - in.bLo;
    return static_cast<uint32_t>(std::min<uint64_t>(in.aLo + into, in.aHi));
  }

  // The walk from the start, joined to each later segment's walk where it
  // reaches a place where that walk ended a run.
  std::vector<EqualRun> Join(Walker* walker, std::vector<Segment>* segments) {
    std::vector<EqualRun> runs = std::move(segments->front().runs);
    bool finished = segments->front().finished;
    size_t unjoined = 1;  // the first segment not joined or passed yet
    while (!finished) {
      uint32_t i = EndA(runs.back());
      uint32_t j = EndB(runs.back());
      size_t met = segments->size();
      for (size_t s = unjoined; s < segments->size(); ++s) {
        const Segment& theirs = (*segments)[s];
        if (theirs.bFrom > j) break;
        auto at = std::lower_bound(
            theirs.runs.begin(), theirs.runs.end(), j,
            [](const EqualRun& run, uint32_t b) { return EndB(run) < b; });
        if (at != theirs.runs.end() && EndB(*at) == j && EndA(*at) == i) {
          runs.insert(runs.end(), at + 1, theirs.runs.end());
          finished = theirs.finished;
          met = s;
          break;
        }
      }
      if (met < segments->size()) {
        std::vector<EqualRun>().swap((*segments)[met].runs);
        unjoined = met + 1;
        continue;
      }
      // Not met yet: a step further on alone.
      EqualRun run;
      if (!NextRun(walker, i, j, &run)) break;
      runs.push_back(run);
    }
    return runs;
  }

  std::vector<EqualRun> Runs(unsigned threads) {
    uint32_t middle = in.bHi - in.bLo;
    size_t count =
        std::min<size_t>(middle / SEGMENT_MIN, size_t{threads} * SEGMENTS_PER_THREAD);
    Walker walker = NewWalker();
    if (threads <= 1 || count < 2) {
      Segment whole{in.bLo, {}, false};
      Walk(&walker, in.aLo, in.bLo, UINT32_MAX, &whole);
      return std::move(whole.runs);
    }
    std::vector<Segment> segments;
    for (size_t s = 0; s < count; ++s)
      segments.push_back(
          {in.bLo + static_cast<uint32_t>(uint64_t{middle} * s / count), {}, false});
#if VORANDEL_DIFF_THREADS
    std::atomic<size_t> next{0};
    auto work = [this, &segments, &next, count](Walker* own) {
      for (size_t s = next++; s < count; s = next++) {
        uint32_t bStop = s + 1 < count ? segments[s + 1].bFrom : UINT32_MAX;
        uint32_t aFrom = s == 0 ? in.aLo : GuessA(segments[s].bFrom);
        Walk(own, aFrom, segments[s].bFrom, bStop, &segments[s]);
      }
    };
    reporter = std::this_thread::get_id();
    std::vector<std::thread> helpers;
    std::vector<Walker> walkers(threads - 1, NewWalker());
    for (unsigned t = 0; t + 1 < threads; ++t) {
      try {
        helpers.emplace_back(work, &walkers[t]);
      } catch (const std::system_error&) {
        break;  // fewer threads, the same result
      }
    }
    work(&walker);
    for (std::thread& helper : helpers) helper.join();
#endif
    return Join(&walker, &segments);
  }
};

struct EditList {
  std::vector<Edit> edits;

  void Add(uint32_t aAt, uint32_t aLength, uint32_t bAt, uint32_t bLength) {
    if (aLength == 0 && bLength == 0) return;
    if (!edits.empty()) {
      Edit& last = edits.back();
      uint32_t lastEnd = last.aAt + last.aLength;
      if (aAt - lastEnd <= FOLD_MAX) {
        last.aLength = aAt + aLength - last.aAt;
        last.bLength = bAt + bLength - last.bAt;
        return;
      }
    }
    edits.push_back({aAt, aLength, bAt, bLength});
  }
};

unsigned ThreadsToUse(unsigned asked) {
#if VORANDEL_DIFF_THREADS
  if (asked == 0) asked = std::max(1u, std::thread::hardware_concurrency());
  return std::min(asked, THREADS_MAX);
#else
  (void)asked;
  return 1;
#endif
}

}  // namespace

std::vector<Edit> DiffBytes(const uint8_t* a, uint32_t aSize, const uint8_t* b,
                            uint32_t bSize, DiffProgress progress, void* context,
                            unsigned threads) {
  Differ differ;
  differ.progress = progress;
  differ.context = context;
  differ.total = bSize;
  uint32_t shorter = std::min(aSize, bSize);
  uint32_t prefix = CommonPrefix(a, b, shorter);
  uint32_t suffix = CommonSuffix(a + aSize, b + bSize, shorter - prefix);
  differ.in = {a, b, prefix, aSize - suffix, prefix, bSize - suffix};
  differ.done = prefix;

  std::vector<EqualRun> runs = differ.Runs(ThreadsToUse(threads));
  // At most one edit before each run and one after the last: no more memory
  // than that while the runs are still held.
  EditList list;
  list.edits.reserve(runs.size() + 1);
  uint32_t i = prefix;
  uint32_t j = prefix;
  for (const EqualRun& run : runs) {
    list.Add(i, run.aAt - i, j, run.bAt - j);
    i = EndA(run);
    j = EndB(run);
  }
  std::vector<EqualRun>().swap(runs);
  list.Add(i, differ.in.aHi - i, j, differ.in.bHi - j);
  RealignEdits(a, aSize, b, bSize, &list.edits);
  if (progress != nullptr) progress(context, bSize, bSize);
  return std::move(list.edits);
}
