# Gives a Configuration Manager deployment type that runs "ClearonCheck.exe deploy"
# the return codes that command ends with (docs/fleet-deployment.md, section 9).
# Run it from the Configuration Manager site drive (PS XYZ:\>); the
# *-CMDeploymentTypeReturnCode cmdlets need version 2107 or later.
#
#   .\configmgr-returnCodes.ps1 -ApplicationName 'Clearon' -DeploymentTypeName 'Clearon deploy'
#
# Run it once on a new deployment type: it removes the five codes Configuration
# Manager puts on every new one (0, 1707, 3010, 1641, 1618) and adds the list
# below. 1707 is not given back: deploy never ends with it as a success, and an
# installer that answers 1707 has been judged a failure already.
param(
    [Parameter(Mandatory)] [string] $ApplicationName,
    [Parameter(Mandatory)] [string] $DeploymentTypeName
)
$ErrorActionPreference = 'Stop'

function DT { Get-CMDeploymentType -ApplicationName $ApplicationName -DeploymentTypeName $DeploymentTypeName }
if ($null -eq (DT)) { throw "No deployment type '$DeploymentTypeName' in application '$ApplicationName'" }

foreach ($code in 0, 1707, 3010, 1641, 1618) {
    try { Remove-CMDeploymentTypeReturnCode -InputObject (DT) -ReturnCode $code -Force } catch { }
}

Add-CMDeploymentTypeReturnCode -InputObject (DT) -ReturnCode 0 -CodeType Success -Name 'done' -Description 'Every product found was removed; Aegira''s installer, if any, succeeded without a restart'
Add-CMDeploymentTypeReturnCode -InputObject (DT) -ReturnCode 3010 -CodeType SoftReboot -Name 'restart needed' -Description 'Aegira''s installer answered 3010: a restart finishes it'
Add-CMDeploymentTypeReturnCode -InputObject (DT) -ReturnCode 1641 -CodeType HardReboot -Name 'installer restarted' -Description 'Aegira''s installer started a restart'
Add-CMDeploymentTypeReturnCode -InputObject (DT) -ReturnCode 1618 -CodeType FastRetry -Name 'retry later' -Description 'Windows Installer was busy, or another Clearon run outlasted OtherRunTimeLimit'
Add-CMDeploymentTypeReturnCode -InputObject (DT) -ReturnCode 30 -CodeType FastRetry -Name 'Clearon.ini unreadable' -Description 'Clearon.ini could not be read'
Add-CMDeploymentTypeReturnCode -InputObject (DT) -ReturnCode 110 -CodeType FastRetry -Name 'Clearon.ini held' -Description 'Another program held Clearon.ini'
Add-CMDeploymentTypeReturnCode -InputObject (DT) -ReturnCode 112 -CodeType FastRetry -Name 'disk full' -Description 'Less than 500 MiB free on the system drive: nothing was removed'
Add-CMDeploymentTypeReturnCode -InputObject (DT) -ReturnCode 155 -CodeType FastRetry -Name 'no worker thread' -Description 'Clearon''s worker thread could not be created'
Add-CMDeploymentTypeReturnCode -InputObject (DT) -ReturnCode 1359 -CodeType FastRetry -Name 'Clearon error' -Description 'An unexpected error ended Clearon; the run log says so'
Add-CMDeploymentTypeReturnCode -InputObject (DT) -ReturnCode 1 -CodeType Failure -Name 'product stayed' -Description 'A product''s uninstall entry was still there after its uninstaller ran'
Add-CMDeploymentTypeReturnCode -InputObject (DT) -ReturnCode 2 -CodeType Failure -Name 'Clearon.ini missing' -Description 'Clearon.ini is missing from the package'
Add-CMDeploymentTypeReturnCode -InputObject (DT) -ReturnCode 13 -CodeType Failure -Name 'Clearon.ini invalid' -Description 'Clearon.ini is not a valid configuration'
Add-CMDeploymentTypeReturnCode -InputObject (DT) -ReturnCode 38 -CodeType Failure -Name 'Clearon.ini empty' -Description 'Clearon.ini is empty'
Add-CMDeploymentTypeReturnCode -InputObject (DT) -ReturnCode 223 -CodeType Failure -Name 'Clearon.ini too large' -Description 'Clearon.ini is larger than 65,535 bytes'
Add-CMDeploymentTypeReturnCode -InputObject (DT) -ReturnCode 1459 -CodeType Failure -Name 'needs a screen' -Description 'ShowGUI=Y without AutoRunAfterUILoads=Y: nothing was done'
Add-CMDeploymentTypeReturnCode -InputObject (DT) -ReturnCode 1460 -CodeType Failure -Name 'time limit' -Description 'Clearon still ran at deploy''s --time-limit and was left running'
Add-CMDeploymentTypeReturnCode -InputObject (DT) -ReturnCode 1603 -CodeType Failure -Name 'installer failed' -Description 'Aegira''s installer failed or could not be started'
Add-CMDeploymentTypeReturnCode -InputObject (DT) -ReturnCode 60001 -CodeType Failure -Name 'usage error' -Description 'ClearonCheck did not understand its command line'
Add-CMDeploymentTypeReturnCode -InputObject (DT) -ReturnCode 60002 -CodeType Failure -Name 'Clearon.exe not started' -Description 'Clearon.exe is missing beside ClearonCheck.exe or could not be started'
Add-CMDeploymentTypeReturnCode -InputObject (DT) -ReturnCode 60003 -CodeType Failure -Name 'preview fault' -Description 'ClearonCheck preview fault'
Add-CMDeploymentTypeReturnCode -InputObject (DT) -ReturnCode 60004 -CodeType Failure -Name 'no run to judge' -Description 'The run log holds no finished run to judge'
Add-CMDeploymentTypeReturnCode -InputObject (DT) -ReturnCode 60005 -CodeType Failure -Name 'not elevated' -Description 'deploy ran without administrator rights, which Clearon.exe needs'
Add-CMDeploymentTypeReturnCode -InputObject (DT) -ReturnCode 60006 -CodeType Failure -Name 'ClearonCheck error' -Description 'An unexpected error ended ClearonCheck'
