#include "fakeprinters.h"

#include <utility>

FakePrinters::FakePrinters(std::vector<std::string> names_, std::string defaultName_)
    : names(std::move(names_)), defaultName(std::move(defaultName_))
{
}
