#pragma once
// Component base and bound event handlers shared by the components (TComm, TDataLogger, ...).

#include <QObject>
#include <QPointer>
#include <functional>
#include <utility>

// A component's lifetime may be managed by an owner, which destroys it with itself.
class TComponent : public QObject {
    Q_OBJECT
public:
    explicit TComponent(QObject *AOwner = nullptr) : QObject(AOwner) {}
};

// An event handler bound to the object it belongs to. It is called only while it is
// assigned and, when bound to a QObject, only while that object is alive.
template <typename... Args>
class TEvent {
public:
    TEvent() = default;

    template <typename Obj>
    TEvent(Obj *target, void (Obj::*method)(Args...))
    {
        Bind(target, method);
    }

    template <typename Obj>
    void Bind(Obj *target, void (Obj::*method)(Args...))
    {
        FTarget = target;
        FBound = true;
        FFunction = [target, method](Args... args) { (target->*method)(args...); };
    }

    // A free function or closure, not tied to an object's lifetime.
    void Bind(std::function<void(Args...)> function)
    {
        FTarget.clear();
        FBound = false;
        FFunction = std::move(function);
    }

    void Clear()
    {
        FTarget.clear();
        FBound = false;
        FFunction = nullptr;
    }

    bool Assigned() const { return FFunction && (!FBound || !FTarget.isNull()); }

    void operator()(Args... args) const
    {
        if (Assigned())
            FFunction(args...);
    }

private:
    QPointer<QObject> FTarget;
    bool FBound = false;
    std::function<void(Args...)> FFunction;
};
