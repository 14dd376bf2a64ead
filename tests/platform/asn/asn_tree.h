// Test helper: a tree of names held in C++ containers, turned into the codec's C records and
// read back from them, so that tests compare whole trees with ==.
#ifndef OVUTIL_TESTS_ASN_TREE_H
#define OVUTIL_TESTS_ASN_TREE_H

#include <ovasn/asn.h>

#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace asntest {

struct Node {
    std::string name;
    std::vector<std::string> values;
    std::vector<Node> subtrees;
    bool operator==(const Node&) const = default;
};

// The C records of a list of nodes, pointing into a copy of the nodes that it keeps.
class Records {
public:
    explicit Records(std::vector<Node> nodes) : nodes_(std::move(nodes)) {
        entries_ = add_array(nodes_);
        list.count = static_cast<unsigned int>(nodes_.size());
        list.entries = nodes_.empty() ? nullptr : entries_;
    }
    Records(const Records&) = delete;
    Records& operator=(const Records&) = delete;

    namevalueList_s_t list{};

private:
    namevalue_s_t** add_array(const std::vector<Node>& nodes) {
        auto& array = pointers_.emplace_back(nodes.size());
        for (size_t i = 0; i < nodes.size(); ++i) array[i] = add(nodes[i]);
        return array.data();
    }
    namevalue_s_t* add(const Node& node) {
        namevalue_s_t& r = records_.emplace_back();
        r.name = const_cast<char*>(node.name.c_str());
        auto& values = texts_.emplace_back();
        for (const auto& v : node.values) values.push_back(const_cast<char*>(v.c_str()));
        r.nvalues = static_cast<unsigned int>(values.size());
        r.values = values.empty() ? nullptr : values.data();
        r.nsubtrees = static_cast<unsigned int>(node.subtrees.size());
        r.subtrees = node.subtrees.empty() ? nullptr : add_array(node.subtrees);
        return &r;
    }

    std::vector<Node> nodes_;
    std::deque<namevalue_s_t> records_;
    std::deque<std::vector<namevalue_s_t*>> pointers_;
    std::deque<std::vector<char*>> texts_;
    namevalue_s_t** entries_ = nullptr;
};

inline Node to_node(const namevalue_s_t& r) {
    Node n{r.name, {}, {}};
    for (unsigned int i = 0; i < r.nvalues; ++i) n.values.emplace_back(r.values[i]);
    for (unsigned int i = 0; i < r.nsubtrees; ++i) n.subtrees.push_back(to_node(*r.subtrees[i]));
    return n;
}

inline std::vector<Node> to_nodes(const namevalueList_s_t& list) {
    std::vector<Node> nodes;
    for (unsigned int i = 0; i < list.count; ++i) nodes.push_back(to_node(*list.entries[i]));
    return nodes;
}

// A chain of `levels` + 1 records: the top-level record and `levels` levels of subtrees.
inline Node chain(int levels) {
    Node top{"level0", {"v"}, {}};
    Node* n = &top;
    for (int i = 1; i <= levels; ++i) {
        n->subtrees.push_back(Node{"level" + std::to_string(i), {}, {}});
        n = &n->subtrees.back();
    }
    return top;
}

}  // namespace asntest

#endif  // OVUTIL_TESTS_ASN_TREE_H
