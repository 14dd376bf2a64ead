// The "typical request" that the wire benchmarks share, so their figures describe one tree:
// 20 top-level names of 8-16 characters, each with 1-3 values of 10-60 characters; 3 of them
// also hold a subtree of 5 names with 2 values each (about 3.3 KB of DER).
#ifndef OV_BENCH_COMMON_TYPICAL_REQUEST_H
#define OV_BENCH_COMMON_TYPICAL_REQUEST_H

#include <deque>
#include <random>
#include <string>
#include <vector>

#include <ovasn/asn.h>

namespace ovbench {

struct Node {
    std::string name;
    std::vector<std::string> values;
    std::vector<Node> subtrees;
};

inline std::string randomText(std::mt19937& rng, size_t min, size_t max) {
    static const char kChars[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_.-";
    std::string s(min + rng() % (max - min + 1), ' ');
    for (auto& c : s) c = kChars[rng() % (sizeof kChars - 1)];
    return s;
}

// The same tree on every call. Top-level names end in their index, so they are distinct.
inline std::vector<Node> typicalRequest() {
    std::mt19937 rng(2024);
    std::vector<Node> nodes;
    for (int i = 0; i < 20; ++i) {
        Node n{randomText(rng, 7, 14) + std::to_string(i % 10) + std::to_string(i / 10), {}, {}};
        for (int v = 1 + rng() % 3; v > 0; --v) n.values.push_back(randomText(rng, 10, 60));
        if (i % 7 == 3) {
            for (int s = 0; s < 5; ++s)
                n.subtrees.push_back(Node{randomText(rng, 8, 16),
                                          {randomText(rng, 10, 60), randomText(rng, 10, 60)},
                                          {}});
        }
        nodes.push_back(std::move(n));
    }
    return nodes;
}

inline unsigned long countValues(const std::vector<Node>& nodes) {
    unsigned long n = 0;
    for (const Node& node : nodes) n += node.values.size() + countValues(node.subtrees);
    return n;
}

// The codec's C records of a tree, borrowing its texts; the tree must outlive them.
struct Records {
    explicit Records(const std::vector<Node>& nodes) {
        list.count = static_cast<unsigned int>(nodes.size());
        list.entries = array(nodes);
    }
    Records(const Records&) = delete;
    Records& operator=(const Records&) = delete;

    namevalueList_s_t list{};

private:
    namevalue_s_t** array(const std::vector<Node>& nodes) {
        auto& a = pointers.emplace_back();
        for (const auto& n : nodes) {
            namevalue_s_t& r = records.emplace_back();
            r.name = const_cast<char*>(n.name.c_str());
            auto& v = texts.emplace_back();
            for (const auto& s : n.values) v.push_back(const_cast<char*>(s.c_str()));
            r.nvalues = static_cast<unsigned int>(v.size());
            r.values = v.empty() ? nullptr : v.data();
            r.nsubtrees = static_cast<unsigned int>(n.subtrees.size());
            r.subtrees = n.subtrees.empty() ? nullptr : array(n.subtrees);
            a.push_back(&r);
        }
        return a.empty() ? nullptr : a.data();
    }
    // Deques: what they hold never moves while they grow.
    std::deque<namevalue_s_t> records;
    std::deque<std::vector<namevalue_s_t*>> pointers;
    std::deque<std::vector<char*>> texts;
};

}  // namespace ovbench

#endif  // OV_BENCH_COMMON_TYPICAL_REQUEST_H
