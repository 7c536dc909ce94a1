#include "acquisition/sink.h"

namespace zqd::acq {

SinkRunner::SinkRunner(std::shared_ptr<Sink> sink, std::size_t capacity, bool threaded)
    : sink_(std::move(sink)),
      worker_({[this](Item& item) {
                   if (auto* block = std::get_if<BlockPtr>(&item))
                       sink_->OnBlock(*block);
                   else
                       sink_->OnEvent(std::get<Event>(item));
               },
               [](const Item& item) { return std::holds_alternative<BlockPtr>(item); },
               [](std::uint64_t lost) { return Item(DroppedEvent(lost)); }},
              capacity, threaded) {}

}  // namespace zqd::acq
