#pragma once

#include <functional>
#include <utility>

#include "event_dispatch.hpp"
#include "form1.hpp"
#include "udp_endpoint.hpp"

namespace zorvik {

// A callback from the event loop into the program: run by the dispatch.
template <typename Handler>
std::function<void()> dispatched(EventDispatch& dispatch, Handler handler) {
    return [&dispatch, handler = std::move(handler)] { dispatch.deliver(handler); };
}

// Connects the endpoint to Form1 the same way in every program: each slice of
// arrivals is one callback from the event loop, run by the dispatch; within
// it, every arrival is noted (if the program keeps records) and raises
// Winsock1_DataArrival, and the slice ends with `showSlice`.
inline void wireEndpoint(UdpEndpoint& endpoint, EventDispatch& dispatch, Form1& form, std::function<void()> showSlice,
                         UdpEndpoint::ArrivalHandler note = {}) {
    endpoint.runThrough([&dispatch](const std::function<void()>& slice) { dispatch.deliver(slice); });
    endpoint.onDataArrival([&form, note = std::move(note)](const ReceivedDatagram& arrival) {
        if (note) note(arrival);
        form.Winsock1_DataArrival(static_cast<std::int32_t>(arrival.payload.size()));
    });
    endpoint.onSliceEnd(std::move(showSlice));
}

}  // namespace zorvik
