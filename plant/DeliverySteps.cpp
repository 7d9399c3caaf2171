#include "plant/DeliverySteps.h"

#include "platform/FaultSeam.h"

namespace deliverysteps {

void step()
{
    faultseam::at(faultseam::Point::DeliveryStep);
}

} // namespace deliverysteps
