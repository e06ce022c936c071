#include "vorn/ui/scene.h"

namespace vorn_ui {

std::vector<TextRun> RecordingScene::texts() const {
    std::vector<TextRun> out;
    for (const auto& item : items) {
        if (const auto* t = std::get_if<TextRun>(&item)) out.push_back(*t);
    }
    return out;
}

}  // namespace vorn_ui
