#include "ExternalDeviceLayer/I2cSettings.h"

tagI2cSettings& I2cSettings() {
    static tagI2cSettings settings;
    return settings;
}
