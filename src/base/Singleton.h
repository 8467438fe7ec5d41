// Holder of a process-wide instance, created on first use and deleted on
// request. Creation is not locked: the first call happens on the
// user-interface thread before any worker thread exists.
#pragma once

namespace dom {

template <typename T>
class CSingleton {
public:
    virtual ~CSingleton() = default;

    static T* GetInstance()
    {
        if (!s_instance) s_instance = new T();
        return s_instance;
    }
    static bool Exists() { return s_instance != nullptr; }
    static void DeleteInstance()
    {
        delete s_instance;
        s_instance = nullptr;
    }

private:
    static inline T* s_instance = nullptr;
};

}  // namespace dom
