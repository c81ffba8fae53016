#include "app/varnet.h"

void Varnet::About_Click()
{
}
