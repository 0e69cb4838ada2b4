// Pool of reusable request objects and the guard that returns a borrowed one.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

template <typename T>
class CURLQueue {
public:
    explicit CURLQueue(int count) {
        for (int i = 0; i < count; ++i) pool.push_back(AllocCURL());
    }
    virtual ~CURLQueue() = default;
    CURLQueue(const CURLQueue&) = delete;
    CURLQueue& operator=(const CURLQueue&) = delete;

    virtual std::shared_ptr<T> AllocCURL() { return std::shared_ptr<T>(new T()); }

    // Lends the most recently returned object, or a new one when none is idle.
    std::shared_ptr<T> GetCURL() {
        std::lock_guard<std::mutex> guard(lock);
        if (pool.empty()) return AllocCURL();
        std::shared_ptr<T> object = std::move(pool.back());
        pool.pop_back();
        return object;
    }

    void PutCURL(std::shared_ptr<T> object) {
        std::lock_guard<std::mutex> guard(lock);
        object->Clear();
        pool.push_back(std::move(object));
    }

    size_t IdleCount() {
        std::lock_guard<std::mutex> guard(lock);
        return pool.size();
    }

private:
    std::mutex lock;
    std::vector<std::shared_ptr<T>> pool;
};

template <typename T>
class AutoPutCURL {
public:
    AutoPutCURL(std::shared_ptr<T> object, CURLQueue<T>* queue)
        : curl(std::move(object)), queue(queue) {}
    virtual ~AutoPutCURL() { queue->PutCURL(curl); }
    AutoPutCURL(const AutoPutCURL&) = delete;
    AutoPutCURL& operator=(const AutoPutCURL&) = delete;

private:
    std::shared_ptr<T> curl;
    CURLQueue<T>* queue;
};
