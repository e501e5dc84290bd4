// Morvane operations: the second camera family, built on the first family's register settings.
#pragma once

#include "tarrow_operations.h"

// For now the family differs from the first only where its capture settings differ: frame rates
// may be fractional. Its JSON channels, camera save and TCP stream arrive with their components.
class MorvaneOperations : public TarrowOperations {
public:
    MorvaneOperations(uint32_t address, std::shared_ptr<RegisterChannel> channel,
                      std::unique_ptr<SensorOperations> sensor);
    ~MorvaneOperations() override;

protected:
    TARROW_CAPTURE::RateEncoding rateEncoding() const override;
    bool streamsOverUdp() const override;
};
