// What stands at each destination of the listing, read one destination folder at a time.
#pragma once

#include <cstddef>

#include "installer/payload_listing.h"
#include "platform/platform.h"

// What stands at one item's destination, once its folder has been read.
struct DestinationFact {
  bool known;   // false: its folder could not be read, so the item is asked for on its own
  bool exists;  // a file or folder stands there, with facts
  platform::FileFacts facts;
};

// The facts of every destination of a listing, in the listing's order.
struct DestinationFacts {
  DestinationFact* items = nullptr;  // null when memory ran out: every item is asked for

  DestinationFacts() = default;
  DestinationFacts(const DestinationFacts&) = delete;
  DestinationFacts& operator=(const DestinationFacts&) = delete;
  ~DestinationFacts();
};

// Reads each folder that holds a destination of listing once, and takes each
// item's facts from it, comparing names as Windows compares them. A folder that
// does not exist is not read: nothing in it exists.
void readDestinations(const PayloadListing& listing, DestinationFacts* facts);

// True with *found set when something stands at the destination of item number
// index of listing, as read, or asked for on its own where its folder was not read.
[[nodiscard]] bool factsAtDestination(const PayloadListing& listing, const DestinationFacts& facts,
                                      std::size_t index, platform::FileFacts* found);
