#pragma once

namespace qv {

enum class FeedbackSound { dispatch, success, failure };

} // namespace qv
