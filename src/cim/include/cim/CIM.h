// The whole CIM object model in one include.
#pragma once

#include <cim/CIMClass.h>
#include <cim/CIMDateTime.h>
#include <cim/CIMInstance.h>
#include <cim/CIMName.h>
#include <cim/CIMObjectPath.h>
#include <cim/CIMParamValue.h>
#include <cim/CIMProperty.h>
#include <cim/CIMPropertyList.h>
#include <cim/CIMValue.h>
#include <cim/Exception.h>
#include <cim/Types.h>
