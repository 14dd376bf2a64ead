// Checks of the library's own invariants on entry to and exit from the mutators of strings,
// lists and hash maps: on in builds without NDEBUG (Debug and the sanitizer builds) or with
// OVZ_CHECK_INVARIANTS defined, compiled out otherwise. A broken invariant is a bug of this
// library, never a caller's error: it is reported on standard error and the process aborts,
// at the call that broke it rather than at a later read of the damage.
//
// Each checked class declares `void checkInvariants() const` (hidden); a mutator begins with
// OVZ_CHECKED(), which runs it at once and again when the mutator returns or throws (an
// exception must leave the object sound as well). The checks take constant time, or constant
// time amortised over the insertions that trigger them, so that a checked build keeps the
// complexity of every operation.
#ifndef OVZ_SRC_INVARIANTS_H
#define OVZ_SRC_INVARIANTS_H

#if !defined(NDEBUG) || defined(OVZ_CHECK_INVARIANTS)
#define OVZ_INVARIANTS 1
#else
#define OVZ_INVARIANTS 0
#endif

namespace ovz_internal {

// Writes "ovz: invariant broken at FILE:LINE: WHAT" to standard error and aborts.
[[noreturn]] void invariantBroken(const char* what, const char* file, int line) noexcept;

// Runs a check when made and again when it goes out of scope.
template <class Check>
class OnEntryAndExit {
public:
    explicit OnEntryAndExit(const Check& check) : check_(check) { check_(); }
    ~OnEntryAndExit() { check_(); }
    OnEntryAndExit(const OnEntryAndExit&) = delete;
    OnEntryAndExit& operator=(const OnEntryAndExit&) = delete;

private:
    const Check& check_;
};

}  // namespace ovz_internal

#define OVZ_INVARIANT(condition)                                                         \
    do {                                                                                 \
        if (!(condition)) ovz_internal::invariantBroken(#condition, __FILE__, __LINE__); \
    } while (0)

#if OVZ_INVARIANTS
#define OVZ_CHECKED()                                     \
    const auto ovzCheck_ = [this] { checkInvariants(); }; \
    const ovz_internal::OnEntryAndExit<decltype(ovzCheck_)> ovzCheckedScope_(ovzCheck_)
#else
#define OVZ_CHECKED() static_cast<void>(0)
#endif

#endif  // OVZ_SRC_INVARIANTS_H
