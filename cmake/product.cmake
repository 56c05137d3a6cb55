# Plugtrail's identity, in one place. The program takes it from the header
# generated from res/product.h.in, the packages from the same header through
# installer/build-msi, and the tests from either; so a package never names a
# service, an event source or a version that the program does not.
set(PLUGTRAIL_VERSION 0.0.1.1)
set(PLUGTRAIL_SERVICE_NAME "Plugtrail")
set(PLUGTRAIL_DISPLAY_NAME "Plugtrail")
set(PLUGTRAIL_DESCRIPTION "Plugtrail; logs USB device arrivals and removals")
set(PLUGTRAIL_EVENT_SOURCE "Plugtrail")
set(PLUGTRAIL_EVENT_SOURCE_KEY "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\${PLUGTRAIL_EVENT_SOURCE}")
# Where Group Policy puts the list of approved devices (ADMX: installer/policy).
set(PLUGTRAIL_POLICY_KEY "SOFTWARE\\Policies\\Plugtrail")
set(PLUGTRAIL_APPROVED_DEVICES_VALUE "ApprovedDevices")
# Error, warning and information events.
set(PLUGTRAIL_EVENT_TYPES_SUPPORTED 7)
# Every package of Plugtrail, whatever its version or architecture.
set(PLUGTRAIL_UPGRADE_CODE "4F963B87-D193-4232-9E62-2762E374AA2F")
