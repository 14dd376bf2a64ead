// Maps and their objects across threads. The objects of a map (keys, entries, values, list
// arrays, table nodes) come from per-thread caches of the object allocator; these tests hand
// maps from the threads that decode them to threads that check and delete them, let objects
// outlive the threads that made them, and check that no object's bytes were touched by any
// other object's life.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <ovutil/NameValueMap.h>

#include "src/WVCore/NameValueMap_content.h"

namespace {

// A map whose names and values span many object sizes, and its wire form.
struct Sample {
    Sample() {
        for (int i = 0; i < 40; ++i) {
            std::string name = "name" + std::to_string(i) + std::string(i % 13, 'n');
            for (int v = 0; v <= i % 4; ++v) {
                map.addString(
                    name.c_str(),
                    std::string(static_cast<size_t>((i * 37 + v * 11) % 700), 'a' + v).c_str());
            }
            if (i % 5 == 0) map.addSubtree(name.c_str())->addString("inner", name.c_str());
        }
        unsigned long status = 0;
        ov_asn_buffer_t out = {0, nullptr};
        map.encode(out, status);
        if (status == OV_ASN_OK) wire.assign(reinterpret_cast<char*>(out.data), out.length);
        ov_asn_buffer_free(out);
        content = ContentOf(map);
    }
    NameValueMap map;
    std::string wire;
    MapContent content;
};

const Sample& TheSample() {
    static const Sample* sample = new Sample;
    return *sample;
}

std::unique_ptr<NameValueMap> Decoded() {
    const std::string& wire = TheSample().wire;
    ov_asn_buffer_t in = {static_cast<unsigned int>(wire.size()),
                          reinterpret_cast<unsigned char*>(const_cast<char*>(wire.data()))};
    auto map = std::make_unique<NameValueMap>();
    unsigned long status = 0;
    map->decode(in, status);
    EXPECT_EQ(status, OV_ASN_OK);
    return map;
}

TEST(NameValueMapThreads, MapsDecodedInOneThreadAreCheckedAndFreedInAnother) {
    ASSERT_FALSE(TheSample().wire.empty());
    constexpr int kProducers = 3;
    constexpr int kConsumers = 3;
    constexpr int kMapsEach = 60;
    std::mutex lock;
    std::condition_variable ready;
    std::deque<std::unique_ptr<NameValueMap>> queue;
    int producing = kProducers;
    std::atomic<int> checked{0}, wrong{0};

    std::vector<std::thread> threads;
    for (int p = 0; p < kProducers; ++p) {
        threads.emplace_back([&] {
            for (int i = 0; i < kMapsEach; ++i) {
                std::unique_ptr<NameValueMap> map = Decoded();
                // Some maps are copied first, so that clones made here travel too.
                if (i % 3 == 0) map.reset(static_cast<NameValueMap*>(map->clone()));
                std::lock_guard<std::mutex> guard(lock);
                queue.push_back(std::move(map));
                ready.notify_one();
            }
            std::lock_guard<std::mutex> guard(lock);
            if (--producing == 0) ready.notify_all();
        });
    }
    for (int c = 0; c < kConsumers; ++c) {
        threads.emplace_back([&] {
            for (;;) {
                std::unique_ptr<NameValueMap> map;
                {
                    std::unique_lock<std::mutex> guard(lock);
                    ready.wait(guard, [&] { return !queue.empty() || producing == 0; });
                    if (queue.empty()) return;
                    map = std::move(queue.front());
                    queue.pop_front();
                }
                if (!(ContentOf(*map) == TheSample().content)) ++wrong;
                // Change it here before it dies here: values made by this thread join it.
                map->addString("added by consumer", "x");
                map->removeValue("name1", 0);
                ++checked;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(checked.load(), kProducers * kMapsEach);
    EXPECT_EQ(wrong.load(), 0);

    // The blocks all those threads gave back serve new maps here.
    for (int i = 0; i < 20; ++i) EXPECT_EQ(ContentOf(*Decoded()), TheSample().content);
}

TEST(NameValueMapThreads, ObjectsOutliveTheThreadsThatMadeThem) {
    // Each short-lived thread leaves maps behind; while they are alive, other threads make
    // and drop objects of the same sizes, and the maps must still read back unchanged.
    std::vector<std::unique_ptr<NameValueMap>> survivors;
    std::mutex lock;
    for (int round = 0; round < 4; ++round) {
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&, t] {
                for (int i = 0; i < 10; ++i) {
                    std::unique_ptr<NameValueMap> map = Decoded();
                    if ((i + t) % 2 == 0) {
                        std::lock_guard<std::mutex> guard(lock);
                        survivors.push_back(std::move(map));
                    }
                }
            });
        }
        for (auto& t : threads) t.join();
        for (const auto& map : survivors) ASSERT_EQ(ContentOf(*map), TheSample().content);
    }
    survivors.clear();  // freed by a thread that made none of them
}

}  // namespace
