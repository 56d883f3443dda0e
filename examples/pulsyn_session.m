function pulsyn_session(logFile, showMonitor)
%PULSYN_SESSION  One lab session with the Pulsyn stimulator through QuorLib.
%
%   pulsyn_session                          saves the traffic log as pulsyn-session.rtf in
%                                           your Documents folder
%   pulsyn_session('C:\data\run1.rtf')      saves it there
%   pulsyn_session('C:\data\run1.rtf', true) also shows the Pulsyn Monitor window
%
%   MATLAB's bitness must match the registered QuorLib.dll: 64-bit MATLAB (every release
%   since R2016a) uses x64\QuorLib.dll. MATLAB's command line names no port: QuorLib uses
%   the environment variable QUORLIB_PORT (e.g. setenv('QUORLIB_PORT', 'COM7') before the
%   session, or set for the user), and without it takes the highest-numbered USB serial
%   port that opens.

if nargin < 1
    % Your Documents folder: an installed examples folder is not writable for a standard user.
    documents = winqueryreg('HKEY_CURRENT_USER', ...
        'Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders', 'Personal');
    logFile = fullfile(documents, 'pulsyn-session.rtf');
end
if nargin < 2, showMonitor = false; end

% The channel modes and pulse shapes (QuorLib's ChannelModes and ChannelShapes).
cmTrain = 2; cmTrig = 3;
csMonopolar = 0; csBipolar = 1;

p = actxserver('QuorLib.Pulsyn');
cleanup = onCleanup(@() delete(p));   % releases QuorLib when the function ends
refused = 0;

    % The value setters answer true when the stimulator accepted the value.
    function report(what, accepted)
        if accepted
            fprintf('  %s: accepted\n', what);
        else
            fprintf('  %s: REFUSED by the stimulator\n', what);
            refused = refused + 1;
        end
    end

    % The other commands answer nothing; a wrong argument raises an error.
    function done(what)
        fprintf('  %s: done\n', what);
    end

disp('Connecting to the stimulator...');
if ~p.Connect()
    error(['No stimulator found. Is it plugged in and switched on? With several USB serial ' ...
           'devices, name its port: setenv(''QUORLIB_PORT'', ''COM7'')']);
end
disp('Connected.');

disp('Programming paradigm 2:');
p.ChangeParadigm(2);               done('ChangeParadigm 2');
p.ClearParadigm();                 done('ClearParadigm (all channels off)');

% Channel 1: a train of 10 bipolar pulses, 0.4 ms long, every 50 ms, 25 ms after the
% trigger, starting at 2.5 V and growing by 0.1 V from pulse to pulse.
p.ChangeChannelMode(1, cmTrain);   done('ChangeChannelMode 1, cmTrain');
report('SetChannelShape 1, csBipolar', p.SetChannelShape(1, csBipolar));
report('SetChannelDelay 1, 0.025 s', p.SetChannelDelay(1, 0.025));
report('SetChannelDuration 1, 0.0004 s', p.SetChannelDuration(1, 0.0004));
report('SetChannelInterval 1, 0.05 s', p.SetChannelInterval(1, 0.05));
report('SetChannelN 1, 10 pulses', p.SetChannelN(1, 10));
report('SetChannelVoltage 1, 2.5 V', p.SetChannelVoltage(1, 2.5));
report('SetChannelDeltaV 1, 0.1 V', p.SetChannelDeltaV(1, 0.1));

% Channel 2: one monopolar pulse of 1 ms, 10 ms after its trigger, -1.25 V, step -0.05 V.
p.ChangeChannelMode(2, cmTrig);    done('ChangeChannelMode 2, cmTrig');
report('SetChannelShape 2, csMonopolar', p.SetChannelShape(2, csMonopolar));
report('SetChannelDelay 2, 0.01 s', p.SetChannelDelay(2, 0.01));
report('SetChannelDuration 2, 0.001 s', p.SetChannelDuration(2, 0.001));
report('SetChannelVoltage 2, -1.25 V', p.SetChannelVoltage(2, -1.25));
report('SetChannelDeltaV 2, -0.05 V', p.SetChannelDeltaV(2, -0.05));

% Join channel 2 to channel 1 (a trigger of 1 then starts 2 as well), fire, separate them.
p.ConnectChannel(1, 2);            done('ConnectChannel 1, 2');
p.Trigger(1);                      done('Trigger 1');
p.DisconnectChannel(1, 2);         done('DisconnectChannel 1, 2');
p.Trigger(2);                      done('Trigger 2');

% Keep a copy of the whole paradigm as paradigm 3.
p.CopyParadigm(3);                 done('CopyParadigm 3');

% A mistake: there is no channel 10. QuorLib refuses it before anything reaches the
% stimulator; MATLAB's error message ends with QuorLib's description.
disp('A deliberate mistake:');
try
    p.SetChannelDelay(10, 0.5);
    disp('  SetChannelDelay 10, 0.5 s: unexpectedly accepted');
    refused = refused + 1;
catch err
    fprintf('  SetChannelDelay 10, 0.5 s: error:\n%s\n', err.message);
end

if showMonitor
    p.ShowMonitor();
    % The modal dialog keeps the monitor window alive until you click OK.
    uiwait(msgbox('The Pulsyn Monitor window shows the session. Click OK to end.', 'Pulsyn session', 'modal'));
end

p.SaveSessionCommands(logFile);    done(['SaveSessionCommands ' logFile]);
fprintf('The traffic log is saved in %s\n', logFile);
p.Connected = false;               done('Disconnected');

if refused > 0
    error('%d value(s) were refused by the stimulator.', refused);
end
disp('Session complete.');
end
