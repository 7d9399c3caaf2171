#include "plant/DeliverySteps.h"

namespace deliverysteps {

namespace {

std::function<void()> &hook()
{
    static std::function<void()> h;
    return h;
}

} // namespace

void step()
{
    if (hook())
        hook()();
}

void setHook(std::function<void()> h)
{
    hook() = std::move(h);
}

} // namespace deliverysteps
