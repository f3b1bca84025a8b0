#include "panel/control/CoreSignals.h"

namespace panel {

CoreSignals::CoreSignals(panel::PanelCore& core, QObject* parent) : QObject(parent)
{
    using Kind = panel::Change::Kind;
    subscription_ = core.Changes().Subscribe([this](const panel::Change& change) {
        switch (change.kind) {
        case Kind::kApplicationChanged:
            emit ApplicationChanged(change.name);
            break;
        case Kind::kRulesReplaced:
            emit RulesReplaced();
            break;
        case Kind::kSettingChanged:
            emit SettingChanged(change.name);
            break;
        }
    });
}

}  // namespace panel
